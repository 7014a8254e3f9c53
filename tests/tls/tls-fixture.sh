#!/bin/bash
# ctest fixture of the TLS tests: tls-fixture.sh BUILD_DIR setup|teardown
# setup: makes the test certificates (test-ca.sh, into BUILD_DIR/tls), adds
# the test root to the machine Root store of the build tree's Wine prefix,
# and starts on 127.0.0.1
#   12540  aiosmtpd offering STARTTLS and requiring it, with AUTH required
#          (user "sender", password "mail-secret"), spool BUILD_DIR/tls/spool-starttls
#   12541  aiosmtpd with TLS from the first byte (as on 465), the same AUTH,
#          spool BUILD_DIR/tls/spool-smtps
#   12560  HTTPS with the good certificate (localhost, from the test root)
#   12561  expired   12562 wrong host   12563 self-signed   12564 unknown root
# teardown: stops them and takes the root out of the store again (its
# registry key too, or Wine brings it back).
# trust CERT_DIR / untrust CERT_DIR: only adds (removes) the root made in
# CERT_DIR to (from) BUILD_DIR's prefix, for a second prefix (the 32-bit
# tree's) whose tests use the servers another tree's setup started.
set -u
build=$(cd "$1" && pwd)
mode=$2
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
dir=$build/tls
. "$root/scripts/wine-env.sh" "$build"
store_tool=$build/bin/cert_store.exe

stop() {
    local f pid
    for f in "$dir"/*.pid; do
        [ -f "$f" ] || continue
        pid=$(cat "$f" 2>/dev/null)
        if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
            kill "$pid" 2>/dev/null
            for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        fi
        rm -f "$f"
    done
}

# start NAME COMMAND...: detached, streams redirected (or ctest waits on
# the inherited pipe), ready when NAME.ready appears.
start() {
    local name=$1
    shift
    rm -f "$dir/$name.ready"
    setsid "$@" </dev/null >"$dir/$name.out" 2>&1 &
    echo $! >"$dir/$name.pid"
    for _ in $(seq 100); do
        [ -s "$dir/$name.ready" ] && return 0
        kill -0 "$(cat "$dir/$name.pid")" 2>/dev/null || break
        sleep 0.1
    done
    echo "$name did not start:"
    cat "$dir/$name.out"
    return 1
}

case "$mode" in
setup)
    stop
    "$here/test-ca.sh" "$dir" || { echo "making the test certificates failed"; exit 1; }
    wine "$store_tool" add "$(winpath "$dir/ca.der")" </dev/null >/dev/null 2>"$dir/store.err" ||
        { echo "adding the test root failed:"; cat "$dir/store.err"; exit 1; }
    rm -rf "$dir/spool-starttls" "$dir/spool-smtps"
    sink=$root/tests/mailweb/smtp_sink.py
    start web /usr/bin/python3 "$here/tls_web.py" --certs "$dir" --ready "$dir/web.ready" \
        good=12560 expired=12561 wronghost=12562 selfsigned=12563 unknown=12564 || { stop; exit 1; }
    start starttls /usr/bin/python3 "$sink" --port 12540 --spool "$dir/spool-starttls" --ready "$dir/starttls.ready" \
        --cert "$dir/good.pem" --key "$dir/good.key" --starttls --login sender:mail-secret || { stop; exit 1; }
    start smtps /usr/bin/python3 "$sink" --port 12541 --spool "$dir/spool-smtps" --ready "$dir/smtps.ready" \
        --cert "$dir/good.pem" --key "$dir/good.key" --implicit --login sender:mail-secret || { stop; exit 1; }
    echo "test root in the Wine prefix; HTTPS on 12560-12564, SMTP with TLS on 12540 and 12541"
    ;;
trust | untrust)
    ca=${3:?usage: $0 BUILD_DIR $mode CERT_DIR}/ca.der
    [ -f "$ca" ] || { echo "no test root at $ca"; exit 1; }
    verb=add
    [ "$mode" = untrust ] && verb=remove
    wine "$store_tool" "$verb" "$(winpath "$ca")" </dev/null >/dev/null 2>"$build/cert-store.err" ||
        { echo "$verb of the test root failed:"; cat "$build/cert-store.err"; exit 1; }
    echo "test root: $verb in $WINEPREFIX"
    ;;
teardown)
    stop
    [ -f "$dir/ca.der" ] && wine "$store_tool" remove "$(winpath "$dir/ca.der")" </dev/null >/dev/null 2>&1
    echo "TLS servers stopped, test root removed"
    ;;
*)
    echo "usage: $0 BUILD_DIR setup|teardown|trust CERT_DIR|untrust CERT_DIR"; exit 2 ;;
esac
exit 0
