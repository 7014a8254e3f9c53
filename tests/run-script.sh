#!/bin/bash
# Runs one VBScript or JScript test with Wine's cscript against the
# registered DLLs, the way a page's script engine calls them.
#   run-script.sh BUILD_DIR SCRIPT [WINE_TREE]
# The script starts in BUILD_DIR, where the fixtures keep their files; the
# Wine prefix (and so the DLLs) is WINE_TREE's, BUILD_DIR's by default: the
# 32-bit tree's for the 32-bit runs.
# A .js test runs as a copy with tests/support/script-prelude.js joined onto
# its first line (its line numbers stay its own; errors name the test).
# Wine's cscript exits 0 even when a runtime error stops the script, so a
# test passes only when its last line is the sentinel "ALL TESTS PASSED" and
# no line starts with "FAIL".
set -u
build=$1
script=$2
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/wine-env.sh" "${3:-$build}"
. "$here/tests/support/script-prelude.sh"
run=$(with_prelude "$build" "$script")
out=$(cd "$build" && timeout 600 wine "$CSCRIPT" //nologo "$(winpath "$run")" 2>&1 </dev/null | tr -d '\r')
rc=$?
out=$(own_names "$out" "$script" "$run")
[ "$run" = "$script" ] || rm -f "$run"
script_verdict "$out" "$rc"
