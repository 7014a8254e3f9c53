#!/bin/bash
# MyNntp's listing of a large group against Python's nntplib asking the same
# ranges of the same local INN server, in one run.
# Usage: bench/news_listing.sh [BUILD_DIR] [ROUNDS]
# Needs INN installed (scripts/setup.d/news.sh) and a built tree; starts and
# stops the test fixtures (Wine prefix, INN on 127.0.0.1:$QK_PORT_INN) itself.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
rounds=${2:-30}
. "$here/bench/news/bench-lib.sh"
news_bench_start "$build"

# Warm both sides once (Wine's first script start, INN's caches), then time.
wine "$CSCRIPT" //nologo "$(winpath "$here/bench/news_listing.js")" 127.0.0.1:$QK_PORT_INN test.big 2 </dev/null >/dev/null 2>&1
python3 "$here/bench/news_listing_nntplib.py" 127.0.0.1 "$QK_PORT_INN" test.big 2 >/dev/null

ours=$(wine "$CSCRIPT" //nologo "$(winpath "$here/bench/news_listing.js")" 127.0.0.1:$QK_PORT_INN test.big "$rounds" \
    </dev/null 2>/dev/null | tr -d '\r')
theirs=$(python3 "$here/bench/news_listing_nntplib.py" 127.0.0.1 "$QK_PORT_INN" test.big "$rounds")
median_ratio "$ours" "$theirs" 1.5
