# Sourced by every test fixture and benchmark that starts a server: the
# ports (tests/support/ports.sh), starting a server detached with a pid
# file, waiting until it is ready, and stopping it again by that pid file.
# Only a pid this run wrote is ever signalled: other build trees run the
# same servers on this machine at the same time.
. "$(dirname "${BASH_SOURCE[0]}")/ports.sh"

# fixture_until TENTHS COMMAND...: runs COMMAND every tenth of a second
# until it succeeds, at most TENTHS times; fails when it never did.
fixture_until() {
    local tries=$1
    shift
    for _ in $(seq "$tries"); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# fixture_listening PORT: whether 127.0.0.1:PORT accepts a connection.
fixture_listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# fixture_wait_port PORT [TENTHS]: until PORT accepts (10 s by default).
fixture_wait_port() { fixture_until "${2:-100}" fixture_listening "$1"; }

# fixture_wait_file FILE [PID] [TENTHS]: until the server writes FILE (its
# ready file), 10 s by default; with PID, given up as soon as that process
# has ended, so a server that failed at once is reported at once.
fixture_wait_file() {
    for _ in $(seq "${3:-100}"); do
        [ -s "$1" ] && return 0
        if [ -n "${2:-}" ] && ! kill -0 "$2" 2>/dev/null; then
            [ -s "$1" ]
            return
        fi
        sleep 0.1
    done
    [ -s "$1" ]
}

# fixture_gone PID: whether that process has ended.
fixture_gone() { ! kill -0 "$1" 2>/dev/null; }

# fixture_start PIDFILE LOG COMMAND...: COMMAND in a session of its own with
# every stream redirected (ctest waits on an inherited pipe for as long as
# anything holds it open), its output in LOG and its pid in PIDFILE.
fixture_start() {
    local pidfile=$1 log=$2
    shift 2
    setsid "$@" </dev/null >"$log" 2>&1 &
    echo $! >"$pidfile"
}

# fixture_stop PIDFILE [group]: ends the process PIDFILE names (with
# "group", the whole process group it leads) and waits up to 5 s for it to
# go; the file goes too. Nothing to do without the file.
fixture_stop() {
    local pidfile=$1 pid
    [ -f "$pidfile" ] || return 0
    pid=$(cat "$pidfile" 2>/dev/null)
    if [[ $pid =~ ^[0-9]+$ ]] && kill -0 "$pid" 2>/dev/null; then
        if [ "${2:-}" = group ]; then
            kill -- "-$pid" 2>/dev/null
        else
            kill "$pid" 2>/dev/null
        fi
        fixture_until 50 fixture_gone "$pid"
    fi
    rm -f "$pidfile"
    return 0
}

# fixture_wine_start: the Wine prefix of scripts/wine-env.sh (sourced
# before) made and its server running. Wine's services keep inherited
# pipes open for as long as the wineserver lives, so nothing of Wine's gets
# our streams. A server that already runs (an earlier benchmark's) is as
# good: wineserver -p then fails, which must not end a "set -e" caller.
fixture_wine_start() {
    mkdir -p "$WINEPREFIX"
    wineserver -p </dev/null >/dev/null 2>&1 || true
    wine wineboot -i </dev/null >/dev/null 2>&1 || true
}

# fixture_wine_register BIN_DIR: both DLLs of BIN_DIR registered in that
# prefix; says which one failed.
fixture_wine_register() {
    local dll rc
    for dll in Quillnet KestleDLL; do
        wine regsvr32 /s "$(winpath "$1/$dll.dll")" </dev/null >/dev/null 2>&1
        rc=$?
        if [ $rc -ne 0 ]; then
            echo "regsvr32 $dll.dll failed: $rc"
            return 1
        fi
    done
}

# fixture_wine_stop: the prefix's wineserver, and with it every Wine
# process of that prefix, ended.
fixture_wine_stop() {
    [ -n "${WINEPREFIX:-}" ] && wineserver -k </dev/null >/dev/null 2>&1
    return 0
}
