#!/bin/bash
# Kestle.Smilies and Kestle.ConvertFileSize against plain VBScript, in one
# cscript process. Usage: bench/page_text.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
. "$here/scripts/wine-env.sh" "$build"
"$here/tests/wine-fixture.sh" "$build" setup >/dev/null
trap '"$here/tests/wine-fixture.sh" "$build" teardown >/dev/null' EXIT
wine "$CSCRIPT" //nologo "$(winpath "$here/bench/page_text.vbs")" </dev/null 2>/dev/null | tr -d '\r'
wine "$build/bin/kestle_bench.exe" smilies </dev/null 2>/dev/null | tr -d '\r'
