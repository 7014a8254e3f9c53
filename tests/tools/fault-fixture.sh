#!/bin/bash
# ctest fixture: the fault-injecting server with one folder of case files.
#   fault-fixture.sh BUILD_DIR setup|teardown NAME CASE_DIR
# Logs of what the clients said go to BUILD_DIR/faults/NAME/.
set -u
build=$(cd "$1" && pwd)
mode=$2
name=$3
cases=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
dir=$build/faults/$name
pidfile=$dir/server.pid

stop() {
    if [ -f "$pidfile" ]; then
        pid=$(cat "$pidfile")
        kill "$pid" 2>/dev/null
        for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        rm -f "$pidfile"
    fi
}

case "$mode" in
setup)
    stop
    mkdir -p "$dir"
    rm -f "$dir/ready"
    # Detached, with no tie to ctest's pipes: ctest waits for them to close.
    # The ports are fixed, so while another build tree's server holds them
    # this one waits its turn.
    for _ in $(seq 1 300); do
        setsid python3 "$here/fault_server.py" --cases "$cases" --log "$dir" --pidfile "$pidfile" \
            --ready "$dir/ready" </dev/null >"$dir/server.out" 2>&1 &
        for _ in $(seq 1 100); do
            [ -s "$dir/ready" ] && break
            kill -0 $! 2>/dev/null || break
            sleep 0.1
        done
        [ -s "$dir/ready" ] && break
        grep -qi 'address already in use' "$dir/server.out" || break
        sleep 2
    done
    if [ ! -s "$dir/ready" ]; then
        echo "the fault server did not start:"
        cat "$dir/server.out"
        stop
        exit 1
    fi
    echo "fault server $name on ports $(cat "$dir/ready")"
    ;;
teardown)
    stop
    echo "fault server $name stopped"
    ;;
*)
    echo "usage: $0 BUILD_DIR setup|teardown NAME CASE_DIR"
    exit 2
    ;;
esac
exit 0
