#!/bin/bash
# Pages per second of the news site through the page host, 1 and 8 clients: an empty page
# beside the group page and the article page (stored copy), so the share of
# the components is visible. Uses its own site instance (from QK_PORT_SITE_BENCH on).
# Usage: bench/site_pages.sh BUILD_DIR [SECONDS_PER_PAGE]
set -u
build=$(cd "${1:-build}" && pwd)
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/tests/support/ports.sh"
base=$QK_PORT_SITE_BENCH
fixture=$here/tests/site/site-fixture.sh
"$fixture" "$build" bench "$base" setup || exit 1
trap '"$fixture" "$build" bench "$base" teardown >/dev/null' EXIT
www=$build/site-bench/www
# Beside the real pages: an empty page, the site's page frame alone (the
# shared include, FileSystemObject, header and footer), and the frame with
# only the news server's connection and group selection.
printf '<%%\n%%>' >"$www/bench-empty.asp"
printf '<!-- #include file="common.inc" -->\n<%% PageTop "Frame"\nPageBottom %%>' >"$www/bench-frame.asp"
printf '<!-- #include file="common.inc" -->\n<%% PageTop "Connect"\nSet n = Server.CreateObject("Quillnet.MyNntp")
r = n.SetServer(NewsServer)\nr = n.SetGroup("demo.big")\nPageBottom %%>' >"$www/bench-connect.asp"
# The group page beside its floor: nntplib against the same INN.
/usr/bin/python3 "$here/bench/site_pages.py" $((base + QK_SITE_HOST)) "${2:-10}" $((base + QK_SITE_INN))
