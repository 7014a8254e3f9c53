# Sourced by the script-test runners after scripts/wine-env.sh.
# with_prelude BUILD_DIR SCRIPT: prints the file to hand to cscript. A .js
# test becomes a copy in BUILD_DIR/script-tests with tests/support/
# script-prelude.js joined onto its first line, so its line numbers stay its
# own; `testScript` there holds the original's path, for tests that find
# their data beside themselves, and every port of tests/support/ports.sh is
# a variable of the same name (QK_PORT_INN). Other scripts are used as they are.
# own_names TEXT SCRIPT COPY: TEXT with the copy's name put back to the test's.
# script_verdict TEXT RC: prints what the script said and exits with the
# test's result: Wine's cscript exits 0 even when a runtime error stops the
# script, so it passed only when its last line is "ALL TESTS PASSED" and no
# line starts with "FAIL".
with_prelude() {
    local build script=$2
    build=$(cd "$1" && pwd)
    case $script in *.js) ;; *) printf '%s\n' "$script"; return ;; esac
    local prelude
    prelude=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/script-prelude.js
    mkdir -p "$build/script-tests"
    local copy
    copy=$(mktemp "$build/script-tests/XXXXXX-$(basename "$script")")
    local own
    own=$(winpath "$script")
    {
        printf 'var testScript = "%s"; ' "${own//\\/\\\\}"
        grep -E '^QK_[A-Z0-9_]+=[0-9]+$' "$(dirname "$prelude")/ports.sh" | sed 's/^/var /; s/$/;/' | tr '\n' ' '
        grep -v '^[[:space:]]*//' "$prelude" | tr '\n' ' '
        cat "$script"
    } >"$copy"
    printf '%s\n' "$copy"
}
own_names() {
    local text=$1 script=$2 copy=$3
    [ "$script" = "$copy" ] && { printf '%s\n' "$text"; return; }
    local from to
    from=$(winpath "$copy")
    to=$(winpath "$script")
    printf '%s\n' "${text//"$from"/"$to"}"
}
script_verdict() {
    local out=$1 rc=$2 last
    printf '%s\n' "$out"
    if printf '%s\n' "$out" | grep -q '^FAIL'; then echo "script reported failures"; exit 1; fi
    last=$(printf '%s\n' "$out" | grep -v '^[[:space:]]*$' | tail -n 1)
    if [ "$last" != "ALL TESTS PASSED" ]; then echo "script stopped before its end (rc $rc)"; exit 1; fi
    exit 0
}
