#!/bin/bash
# News and mail over TLS, our clients beside Python's on the same servers in
# one run: the newest 100 overview entries and a 20 MB article over NNTPS
# (INN's nnrpd -S on QK_PORT_INN_TLS) against nntplib.NNTP_SSL, and 1,000 mails over
# one STARTTLS session (the mail sink on QK_PORT_BENCH_SMTP_STARTTLS, counting only) against smtplib
# with starttls(), then as many bare NOOP round trips as the mails take on
# each side (the floor they stand on). Both sides check the certificate
# against the test root.
# Usage: bench/tls.sh [BUILD_DIR] [ROUNDS] [MAILS]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
rounds=${2:-5}
mails=${3:-1000}
. "$here/scripts/wine-env.sh" "$build"
. "$here/tests/support/fixture-lib.sh"
news=$QK_PORT_INN_TLS
mail=$QK_PORT_BENCH_SMTP_STARTTLS
tls=$build/tls
cleanup() {
    fixture_stop "$tls/bench-sink.pid"
    "$here/tests/tls/tls-fixture.sh" "$build" teardown >/dev/null || true
    "$here/tests/news/inn-fixture.sh" "$build" teardown >/dev/null || true
    "$here/tests/wine-fixture.sh" "$build" teardown >/dev/null || true
}
trap cleanup EXIT
"$here/tests/wine-fixture.sh" "$build" setup >/dev/null
QK_INN_HUGE=1 "$here/tests/news/inn-fixture.sh" "$build" setup >/dev/null
"$here/tests/tls/tls-fixture.sh" "$build" setup >/dev/null
rm -f "$tls/bench-sink.ready"
fixture_start "$tls/bench-sink.pid" /dev/null /usr/bin/python3 "$here/tests/mailweb/smtp_sink.py" --port "$mail" \
    --ready "$tls/bench-sink.ready" --cert "$tls/good.pem" --key "$tls/good.key" --starttls --login sender:mail-secret
fixture_wait_file "$tls/bench-sink.ready" "$(cat "$tls/bench-sink.pid")"

ours() { wine "$build/bin/tls_bench.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
theirs() { /usr/bin/python3 "$here/bench/tls_python.py" "$@" "$tls/ca.pem"; }
field() { sed -n "s/.*$1.*$2=\([0-9.]*\).*/\1/p"; }
ratio() { python3 -c "import sys; a,b=float(sys.argv[1]),float(sys.argv[2]); print('%s ratio ours/python = %.2f (%s)' % (sys.argv[3], a/b, sys.argv[4]))" "$1" "$2" "$3" "${4:-target at most 1.0}"; }

# Warm both sides once (Wine's first start, INN's caches).
ours news localhost "$news" reader secret-word 1 >/dev/null
theirs news localhost "$news" reader secret-word 1 >/dev/null
a=$(ours news localhost "$news" reader secret-word "$rounds"); echo "$a"
b=$(theirs news localhost "$news" reader secret-word "$rounds"); echo "$b"
ratio "$(field listing median_ms <<<"$a")" "$(field listing median_ms <<<"$b")" "NNTPS listing"
ratio "$(field article median_ms <<<"$a")" "$(field article median_ms <<<"$b")" "NNTPS 20 MB article"
a=$(ours mail localhost "$mail" sender mail-secret "$mails"); echo "$a"
b=$(theirs mail localhost "$mail" sender mail-secret "$mails"); echo "$b"
ratio "$(field mails total_ms <<<"$a")" "$(field mails total_ms <<<"$b")" "STARTTLS $mails mails"
# What a mail stands on: four round trips (MAIL, RCPT, DATA, the message),
# as the server offers no pipelining. The same number of bare NOOP round
# trips on both sides shows how much of the ratio is the system's.
a=$(ours noop localhost "$mail" sender mail-secret $((4 * mails))); echo "$a"
b=$(theirs noop localhost "$mail" sender mail-secret $((4 * mails))); echo "$b"
ratio "$(field noops total_ms <<<"$a")" "$(field noops total_ms <<<"$b")" "STARTTLS $((4 * mails)) NOOP round trips" "the floor under the mails"
