#!/bin/bash
# ctest fixture: aiosmtpd (smtp_sink.py) on 127.0.0.1:12525 writing every
# message it receives to BUILD_DIR/mailweb/spool. Usage: mail-fixture.sh BUILD_DIR setup|teardown
# The server is detached and all its streams redirected, or ctest would
# wait on the inherited pipe for as long as it lives.
set -u
build=$(cd "$1" && pwd)
mode=$2
here=$(cd "$(dirname "$0")" && pwd)
dir=$build/mailweb
pidfile=$dir/sink.pid
port=12525

stop() {
    [ -f "$pidfile" ] || return 0
    local pid
    pid=$(cat "$pidfile" 2>/dev/null)
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
        kill "$pid" 2>/dev/null
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    fi
    rm -f "$pidfile"
}

case "$mode" in
setup)
    stop
    mkdir -p "$dir"
    rm -rf "$dir/spool"
    rm -f "$dir/sink.ready"
    setsid /usr/bin/python3 "$here/smtp_sink.py" --port $port --spool "$dir/spool" --pidfile "$pidfile" \
        --ready "$dir/sink.ready" </dev/null >"$dir/sink.out" 2>&1 &
    for _ in $(seq 100); do
        [ -s "$dir/sink.ready" ] && break
        kill -0 $! 2>/dev/null || break
        sleep 0.1
    done
    if [ ! -s "$dir/sink.ready" ]; then
        echo "aiosmtpd did not start:"; cat "$dir/sink.out"; stop; exit 1
    fi
    echo "aiosmtpd on 127.0.0.1:$port, spool in $dir/spool"
    ;;
teardown)
    stop
    echo "aiosmtpd stopped"
    ;;
*)
    echo "usage: $0 BUILD_DIR setup|teardown"; exit 2 ;;
esac
exit 0
