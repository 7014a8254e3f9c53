#!/bin/bash
# MySmtp.SendMail of 1,000 messages over one connection to aiosmtpd against
# Python's smtplib sending the same messages to the same server, in the same
# run; prints both times and their ratio (target: MySmtp no slower).
# Usage: bench/smtp_send.sh [BUILD_DIR] [COUNT]
# Starts and stops the Wine prefix and a counting mail sink on
# 127.0.0.1:$QK_PORT_BENCH_SMTP_SINK.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
count=${2:-1000}
. "$here/tests/support/fixture-lib.sh"
port=$QK_PORT_BENCH_SMTP_SINK
/usr/bin/python3 -c 'import aiosmtpd' 2>/dev/null || bash "$here/scripts/setup.d/mailweb.sh"
. "$here/scripts/wine-env.sh" "$build"
"$here/tests/wine-fixture.sh" "$build" setup >/dev/null
dir=$build/mailweb/bench
mkdir -p "$dir"
rm -f "$dir/sink.ready"
fixture_start "$dir/sink.pid" "$dir/sink.out" /usr/bin/python3 "$here/tests/mailweb/smtp_sink.py" --port $port \
    --ready "$dir/sink.ready"
cleanup() {
    fixture_stop "$dir/sink.pid"
    "$here/tests/wine-fixture.sh" "$build" teardown >/dev/null || true
}
trap cleanup EXIT
fixture_wait_file "$dir/sink.ready" "$(cat "$dir/sink.pid")" || { echo "aiosmtpd did not start"; cat "$dir/sink.out"; exit 1; }

# Warm both sides once (Wine's first script start), then time.
wine "$CSCRIPT" //nologo "$(winpath "$here/bench/smtp_send.js")" 127.0.0.1:$port 10 </dev/null >/dev/null 2>&1
/usr/bin/python3 "$here/bench/smtp_send_smtplib.py" 127.0.0.1 $port 10 >/dev/null

ours=$(wine "$CSCRIPT" //nologo "$(winpath "$here/bench/smtp_send.js")" 127.0.0.1:$port "$count" \
    </dev/null 2>/dev/null | tr -d '\r')
theirs=$(/usr/bin/python3 "$here/bench/smtp_send_smtplib.py" 127.0.0.1 $port "$count")
echo "$ours"
echo "$theirs"
a=$(sed -n 's/.*failed=0 total_ms=\([0-9.]*\).*/\1/p' <<<"$ours")
b=$(sed -n 's/.*failed=0 total_ms=\([0-9.]*\).*/\1/p' <<<"$theirs")
if [ -z "$a" ] || [ -z "$b" ]; then
    echo "a side did not send every message"
    exit 1
fi
python3 -c "import sys; a,b=float(sys.argv[1]),float(sys.argv[2]); print('MySmtp %.0f msg/s, smtplib %.0f msg/s; ratio MySmtp/smtplib time = %.2f (target at most 1.0)' % (${count}*1000/a, ${count}*1000/b, a/b))" "$a" "$b"
