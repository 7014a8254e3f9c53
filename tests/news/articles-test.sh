#!/bin/bash
# The golden articles read through Quillnet.MyNntp from a script, against the
# INN instance that holds only them, with that server stopped half way:
#   articles-test.sh BUILD_DIR SCRIPT PORT AUTH_PORT
# The script reads every article (from the server, which stores it), then
# asks for the stop by creating "stop-server" in its run folder. This script
# stops the instance, its readers' nnrpd processes included, and answers
# with "server-stopped"; the script then reads every article again through
# the session it connected before, which can only get them from the stored
# copies. Like run-script.sh, the test passes only when the last line is
# "ALL TESTS PASSED" and no line starts with "FAIL".
set -u
build=$(cd "$1" && pwd)
script=$2
port=$3
auth_port=$4
here=$(cd "$(dirname "$0")/../.." && pwd)
. "$here/scripts/wine-env.sh" "$build"
. "$here/tests/support/script-prelude.sh"
. "$here/tests/support/fixture-lib.sh"
run=$build/news-articles
rm -rf "$run"
mkdir -p "$run"
# Every run starts without stored copies, so the first reading is the
# server's.
rm -rf "$build/news-store/news/test/articles"

copy=$(with_prelude "$build" "$script")
(cd "$build" && exec timeout 600 wine "$CSCRIPT" //nologo "$(winpath "$copy")" "$port" "$(winpath "$run")" \
    "$(winpath "$build/inn-$port-golden.txt")" </dev/null >"$run/output.txt" 2>&1) &
script_pid=$!
while kill -0 "$script_pid" 2>/dev/null && [ ! -e "$run/stop-server" ]; do sleep 0.2; done
if [ -e "$run/stop-server" ]; then
    QK_INN_PORT=$port QK_INN_AUTH_PORT=$auth_port "$here/tests/news/inn-fixture.sh" "$build" teardown \
        >"$run/stop.txt" 2>&1
    if fixture_listening "$port"; then
        echo "still listening" >"$run/answer.tmp"
    else
        echo "stopped" >"$run/answer.tmp"
    fi
    # Renamed into place, so the script never reads half an answer.
    mv "$run/answer.tmp" "$run/server-stopped"
fi
wait "$script_pid"
rc=$?
out=$(own_names "$(tr -d '\r' <"$run/output.txt")" "$script" "$copy")
[ "$copy" = "$script" ] || rm -f "$copy"
script_verdict "$out" "$rc"
