#!/bin/bash
# ctest fixture: a private Wine prefix for this build tree with both DLLs
# registered (setup), and the same undone (teardown).
# Wine's services keep inherited pipes open for as long as the wineserver
# lives, so every Wine process started here has its output sent to /dev/null;
# otherwise ctest would wait on the pipe forever.
set -u
build=$1
mode=$2
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/wine-env.sh" "$build"

case "$mode" in
setup)
    mkdir -p "$WINEPREFIX"
    wineserver -p </dev/null >/dev/null 2>&1
    wine wineboot -i </dev/null >/dev/null 2>&1
    for dll in Quillnet KestleDLL; do
        wine regsvr32 /s "$(winpath "$build/bin/$dll.dll")" </dev/null >/dev/null 2>&1
        rc=$?
        if [ $rc -ne 0 ]; then echo "regsvr32 $dll.dll failed: $rc"; exit 1; fi
    done
    # The news store's settings; tests that need other roots write their own.
    echo "Wine prefix ready at $WINEPREFIX"
    ;;
teardown)
    for dll in Quillnet KestleDLL; do
        wine regsvr32 /s /u "$(winpath "$build/bin/$dll.dll")" </dev/null >/dev/null 2>&1
    done
    wineserver -k </dev/null >/dev/null 2>&1
    echo "Wine prefix stopped"
    ;;
*)
    echo "usage: $0 BUILD_DIR setup|teardown"; exit 2 ;;
esac
exit 0
