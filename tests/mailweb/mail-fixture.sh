#!/bin/bash
# ctest fixture: the mail sink (tests/mailweb/smtp_sink.py, aiosmtpd) on
# 127.0.0.1:$QK_PORT_SMTP_SINK writing every message it receives to
# BUILD_DIR/mailweb/spool. Usage: mail-fixture.sh BUILD_DIR setup|teardown
set -u
build=$(cd "$1" && pwd)
mode=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/fixture-lib.sh"
dir=$build/mailweb
pidfile=$dir/sink.pid

case "$mode" in
setup)
    fixture_stop "$pidfile"
    mkdir -p "$dir"
    rm -rf "$dir/spool"
    rm -f "$dir/sink.ready"
    fixture_start "$pidfile" "$dir/sink.out" /usr/bin/python3 "$here/smtp_sink.py" --port "$QK_PORT_SMTP_SINK" \
        --spool "$dir/spool" --ready "$dir/sink.ready"
    if ! fixture_wait_file "$dir/sink.ready" "$(cat "$pidfile")"; then
        echo "aiosmtpd did not start:"; cat "$dir/sink.out"; fixture_stop "$pidfile"; exit 1
    fi
    echo "aiosmtpd on 127.0.0.1:$QK_PORT_SMTP_SINK, spool in $dir/spool"
    ;;
teardown)
    fixture_stop "$pidfile"
    echo "aiosmtpd stopped"
    ;;
*)
    echo "usage: $0 BUILD_DIR setup|teardown"; exit 2 ;;
esac
exit 0
