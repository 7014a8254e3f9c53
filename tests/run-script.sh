#!/bin/bash
# Runs one VBScript or JScript test with Wine's cscript against the
# registered DLLs, the way a page's script engine calls them.
# Wine's cscript exits 0 even when a runtime error stops the script, so a
# test passes only when its last line is the sentinel "ALL TESTS PASSED" and
# no line starts with "FAIL".
set -u
build=$1
script=$2
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/wine-env.sh" "$build"
out=$(cd "$build" && timeout 600 wine "$CSCRIPT" //nologo "$(winpath "$script")" 2>&1 </dev/null | tr -d '\r')
rc=$?
printf '%s\n' "$out"
if printf '%s\n' "$out" | grep -q '^FAIL'; then echo "script reported failures"; exit 1; fi
last=$(printf '%s\n' "$out" | grep -v '^[[:space:]]*$' | tail -n 1)
if [ "$last" != "ALL TESTS PASSED" ]; then echo "script stopped before its end (rc $rc)"; exit 1; fi
exit 0
