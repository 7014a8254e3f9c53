#!/bin/bash
# MyNntp posting 1,000 articles over one connection against Python's nntplib
# post() doing the same, to the same local INN server, in one run.
# Usage: bench/news_post.sh [BUILD_DIR] [ROUNDS]
# Needs INN installed (scripts/setup.d/news.sh) and a built tree; starts and
# stops the test fixtures (Wine prefix, INN on 127.0.0.1:11919) itself.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
rounds=${2:-3}
count=1000
. "$here/scripts/wine-env.sh" "$build"
"$here/tests/wine-fixture.sh" "$build" setup >/dev/null
cleanup() {
    "$here/tests/news/inn-fixture.sh" "$build" teardown >/dev/null || true
    "$here/tests/wine-fixture.sh" "$build" teardown >/dev/null || true
}
trap cleanup EXIT
"$here/tests/news/inn-fixture.sh" "$build" setup >/dev/null

# Warm both sides once (Wine's first script start, INN's caches), then time.
wine "$CSCRIPT" //nologo "$(winpath "$here/bench/news_post.js")" 127.0.0.1:11919 test.post 20 1 </dev/null >/dev/null 2>&1
python3 "$here/bench/news_post_nntplib.py" 127.0.0.1 11919 test.post 20 1 >/dev/null

ours=$(wine "$CSCRIPT" //nologo "$(winpath "$here/bench/news_post.js")" 127.0.0.1:11919 test.post "$count" "$rounds" \
    </dev/null 2>/dev/null | tr -d '\r')
theirs=$(python3 "$here/bench/news_post_nntplib.py" 127.0.0.1 11919 test.post "$count" "$rounds")
echo "$ours"
echo "$theirs"
a=$(sed -n 's/.*median_ms=\([0-9.]*\).*/\1/p' <<<"$ours")
b=$(sed -n 's/.*median_ms=\([0-9.]*\).*/\1/p' <<<"$theirs")
if [ -z "$a" ] || [ -z "$b" ]; then
    echo "a side did not finish"
    exit 1
fi
python3 -c "import sys; a,b=float(sys.argv[1]),float(sys.argv[2]); print('ratio mynntp/nntplib = %.2f (target at most 1.0)' % (a/b if b else float('inf')))" "$a" "$b"
