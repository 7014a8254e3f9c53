#!/bin/bash
# ctest fixture of the TLS tests: tls-fixture.sh BUILD_DIR setup|teardown
# setup: makes the test certificates (test-ca.sh, into BUILD_DIR/tls), adds
# the test root to the machine Root store of the build tree's Wine prefix,
# and starts on 127.0.0.1 (ports of tests/support/ports.sh)
#   QK_PORT_SMTP_STARTTLS      the mail sink offering STARTTLS and requiring it,
#                              with AUTH required (user "sender", password
#                              "mail-secret"), spool BUILD_DIR/tls/spool-starttls
#   QK_PORT_SMTP_IMPLICIT_TLS  the sink with TLS from the first byte (as on
#                              465), the same AUTH, spool BUILD_DIR/tls/spool-smtps
#   QK_PORT_HTTPS_GOOD         HTTPS with the good certificate (localhost,
#                              from the test root); _EXPIRED, _WRONG_HOST,
#                              _SELF_SIGNED and _UNKNOWN_ROOT the others
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

. "$root/tests/support/fixture-lib.sh"

stop() {
    local f
    for f in "$dir"/*.pid; do fixture_stop "$f"; done
}

# start NAME COMMAND...: detached, ready when NAME.ready appears.
start() {
    local name=$1
    shift
    rm -f "$dir/$name.ready"
    fixture_start "$dir/$name.pid" "$dir/$name.out" "$@"
    fixture_wait_file "$dir/$name.ready" "$(cat "$dir/$name.pid")" && return 0
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
        good=$QK_PORT_HTTPS_GOOD expired=$QK_PORT_HTTPS_EXPIRED wronghost=$QK_PORT_HTTPS_WRONG_HOST \
        selfsigned=$QK_PORT_HTTPS_SELF_SIGNED unknown=$QK_PORT_HTTPS_UNKNOWN_ROOT || { stop; exit 1; }
    start starttls /usr/bin/python3 "$sink" --port "$QK_PORT_SMTP_STARTTLS" --spool "$dir/spool-starttls" --ready "$dir/starttls.ready" \
        --cert "$dir/good.pem" --key "$dir/good.key" --starttls --login sender:mail-secret || { stop; exit 1; }
    start smtps /usr/bin/python3 "$sink" --port "$QK_PORT_SMTP_IMPLICIT_TLS" --spool "$dir/spool-smtps" --ready "$dir/smtps.ready" \
        --cert "$dir/good.pem" --key "$dir/good.key" --implicit --login sender:mail-secret || { stop; exit 1; }
    echo "test root in the Wine prefix; HTTPS on $QK_PORT_HTTPS_GOOD-$QK_PORT_HTTPS_UNKNOWN_ROOT," \
        "SMTP with TLS on $QK_PORT_SMTP_STARTTLS and $QK_PORT_SMTP_IMPLICIT_TLS"
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
