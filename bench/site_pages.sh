#!/bin/bash
# Pages per second of the news site through the page host: an empty page
# beside the group page and the article page (stored copy), so the share of
# the components is visible. Uses its own site instance (ports 12819-12881).
# Usage: bench/site_pages.sh BUILD_DIR [SECONDS_PER_PAGE]
set -u
build=$(cd "${1:-build}" && pwd)
here=$(cd "$(dirname "$0")/.." && pwd)
fixture=$here/tests/site/site-fixture.sh
"$fixture" "$build" bench 12800 setup || exit 1
trap '"$fixture" "$build" bench 12800 teardown >/dev/null' EXIT
printf '<%% ' >"$build/site-bench/www/bench-empty.asp"
printf '%%>' >>"$build/site-bench/www/bench-empty.asp"
/usr/bin/python3 "$here/bench/site_pages.py" 12881 "${2:-10}"
