#!/bin/bash
# MyNntp posting 1,000 articles over one connection against Python's nntplib
# post() doing the same, to the same local INN server, in one run.
# Usage: bench/news_post.sh [BUILD_DIR] [ROUNDS]
# Needs INN installed (scripts/setup.d/news.sh) and a built tree; starts and
# stops the test fixtures (Wine prefix, INN on 127.0.0.1:$QK_PORT_INN) itself.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
rounds=${2:-3}
count=1000
. "$here/bench/news/bench-lib.sh"
news_bench_start "$build"

# Warm both sides once (Wine's first script start, INN's caches), then time.
wine "$CSCRIPT" //nologo "$(winpath "$here/bench/news_post.js")" 127.0.0.1:$QK_PORT_INN test.post 20 1 </dev/null >/dev/null 2>&1
python3 "$here/bench/news_post_nntplib.py" 127.0.0.1 "$QK_PORT_INN" test.post 20 1 >/dev/null

ours=$(wine "$CSCRIPT" //nologo "$(winpath "$here/bench/news_post.js")" 127.0.0.1:$QK_PORT_INN test.post "$count" "$rounds" \
    </dev/null 2>/dev/null | tr -d '\r')
theirs=$(python3 "$here/bench/news_post_nntplib.py" 127.0.0.1 "$QK_PORT_INN" test.post "$count" "$rounds")
median_ratio "$ours" "$theirs" 1.0
