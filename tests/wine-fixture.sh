#!/bin/bash
# ctest fixture: a private Wine prefix for this build tree with both DLLs
# registered (setup), and the same undone (teardown).
# Wine's services keep inherited pipes open for as long as the wineserver
# lives, so every Wine process started here has its output sent to /dev/null
# (tests/support/fixture-lib.sh); otherwise ctest would wait on the pipe forever.
set -u
build=$1
mode=$2
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/wine-env.sh" "$build"
. "$here/tests/support/fixture-lib.sh"

case "$mode" in
setup)
    fixture_wine_start
    fixture_wine_register "$build/bin" || exit 1
    echo "Wine prefix ready at $WINEPREFIX"
    ;;
teardown)
    for dll in Quillnet KestleDLL; do
        wine regsvr32 /s /u "$(winpath "$build/bin/$dll.dll")" </dev/null >/dev/null 2>&1
    done
    fixture_wine_stop
    echo "Wine prefix stopped"
    ;;
*)
    echo "usage: $0 BUILD_DIR setup|teardown"; exit 2 ;;
esac
exit 0
