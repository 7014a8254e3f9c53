#!/bin/bash
# MyHttp.GetURL of the 50 MB file from the test nginx against
# `curl -o /dev/null` of the same URL, in the same run; prints both
# throughputs and their ratio (target: MyHttp at least half of curl's).
# Usage: bench/http_get.sh [BUILD_DIR] [ROUNDS]
# Starts and stops the fixtures itself (Wine prefix, nginx on 127.0.0.1:$QK_PORT_NGINX).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
rounds=${2:-5}
. "$here/tests/support/ports.sh"
url=http://127.0.0.1:$QK_PORT_NGINX/big.bin
size=52428800
command -v nginx >/dev/null || bash "$here/scripts/setup.d/mailweb.sh"
. "$here/scripts/wine-env.sh" "$build"
"$here/tests/wine-fixture.sh" "$build" setup >/dev/null
cleanup() {
    "$here/tests/mailweb/web-fixture.sh" "$build" teardown >/dev/null || true
    "$here/tests/wine-fixture.sh" "$build" teardown >/dev/null || true
}
trap cleanup EXIT
"$here/tests/mailweb/web-fixture.sh" "$build" setup >/dev/null

# Warm both sides once (Wine's first script start, the page cache), then time.
wine "$CSCRIPT" //nologo "$(winpath "$here/bench/http_get.js")" "$url" 1 </dev/null >/dev/null 2>&1
curl -s -o /dev/null "$url"

ours=$(wine "$CSCRIPT" //nologo "$(winpath "$here/bench/http_get.js")" "$url" "$rounds" </dev/null 2>/dev/null | tr -d '\r')
best=""
for _ in $(seq "$rounds"); do
    t=$(curl -s -o /dev/null -w '%{time_total}' "$url")
    best=$(python3 -c "import sys; a=sys.argv[1]; b=float(sys.argv[2]); print(b if not a or b < float(a) else a)" "$best" "$t")
done
echo "$ours"
ms=$(sed -n 's/.*best_ms=\([0-9]*\).*/\1/p' <<<"$ours")
chars=$(sed -n 's/.*chars=\([0-9]*\).*/\1/p' <<<"$ours")
if [ -z "$ms" ] || [ "$chars" != "$size" ]; then
    echo "MyHttp did not fetch the whole file (chars=${chars:-none})"
    exit 1
fi
python3 - "$ms" "$best" "$size" <<'PY'
import sys
ours_ms, curl_s, size = float(sys.argv[1]), float(sys.argv[2]), int(sys.argv[3])
mb = size / 1e6
ours = mb / max(ours_ms / 1000.0, 1e-6)
curl = mb / max(curl_s, 1e-6)
print("curl -o /dev/null: best_s=%.3f" % curl_s)
print("throughput MyHttp=%.1f MB/s curl=%.1f MB/s" % (ours, curl))
print("ratio MyHttp/curl = %.2f (target at least 0.5)" % (ours / curl))
PY
