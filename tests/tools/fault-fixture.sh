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

. "$here/../support/fixture-lib.sh"

case "$mode" in
setup)
    fixture_stop "$pidfile"
    mkdir -p "$dir"
    rm -f "$dir/ready"
    # Detached, with no tie to ctest's pipes: ctest waits for them to close.
    # The ports are fixed, so while another build tree's server holds them
    # this one waits its turn.
    for _ in $(seq 1 300); do
        fixture_start "$pidfile" "$dir/server.out" python3 "$here/fault_server.py" --cases "$cases" --log "$dir" \
            --ready "$dir/ready"
        fixture_wait_file "$dir/ready" "$(cat "$pidfile")" && break
        grep -qi 'address already in use' "$dir/server.out" || break
        sleep 2
    done
    if [ ! -s "$dir/ready" ]; then
        echo "the fault server did not start:"
        cat "$dir/server.out"
        fixture_stop "$pidfile"
        exit 1
    fi
    echo "fault server $name on ports $(cat "$dir/ready")"
    ;;
teardown)
    fixture_stop "$pidfile"
    echo "fault server $name stopped"
    ;;
*)
    echo "usage: $0 BUILD_DIR setup|teardown NAME CASE_DIR"
    exit 2
    ;;
esac
exit 0
