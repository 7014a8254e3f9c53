#!/bin/bash
# ctest fixture: a private Postfix on 127.0.0.1, run from its own
# configuration folder in the build tree, never as a system service.
# Usage: postfix-fixture.sh BUILD_DIR setup|teardown
# Ports (tests/support/ports.sh):
#   QK_PORT_POSTFIX           PIPELINING and CHUNKING offered, STARTTLS with
#                             the TLS fixture's certificate (localhost, from
#                             the test root)
#   QK_PORT_POSTFIX_NEITHER   the same with both extensions discarded from
#                             the EHLO reply
#   QK_PORT_POSTFIX_CHUNKING  the same with PIPELINING discarded, CHUNKING offered
# Mail for *@mail.test is delivered to the one Maildir BUILD_DIR/postfix/mail/all/,
# a copy for each recipient, its first line "Delivered-To: USER@mail.test";
# refused@mail.test is refused at RCPT with 550. No SASL: nothing is relayed.
# The queue and data folders are under BUILD_DIR/postfix (QK_POSTFIX_QUEUE
# puts the queue elsewhere, such as on tmpfs for a benchmark that leaves the
# server's disk out); Postfix is stopped
# by "postfix -c" on that folder, which ends only this instance's master.
set -u
build=$(cd "$1" && pwd)
mode=$2
. "$(dirname "$0")/../support/fixture-lib.sh"
ports=("$QK_PORT_POSTFIX" "$QK_PORT_POSTFIX_NEITHER" "$QK_PORT_POSTFIX_CHUNKING")
dir=$build/postfix
conf=$dir/conf
queue=${QK_POSTFIX_QUEUE:-$dir/queue}
tls=$build/tls
# The user virtual(8) writes the Maildirs as: not root (Postfix refuses),
# and not the mail owner.
box_uid=$(id -u nobody)
box_gid=$(id -g nobody)

stop() {
    [ -f "$conf/main.cf" ] || return 0
    postfix -c "$conf" status >/dev/null 2>&1 || return 0
    postfix -c "$conf" stop >/dev/null 2>&1
    fixture_until 50 stopped || true
}
stopped() { ! postfix -c "$conf" status >/dev/null 2>&1; }

configure() {
    mkdir -p "$conf" "$queue" "$dir/data" "$dir/mail"
    chown "$box_uid:$box_gid" "$dir/mail"
    chown postfix "$dir/data"
    printf '/^refused@mail\\.test$/ 550 5.1.1 No such user here\n' >"$conf/refused"
    cat >"$conf/main.cf" <<CONF
compatibility_level = 3.6
queue_directory = $queue
data_directory = $dir/data
maillog_file = $dir/maillog
maillog_file_prefixes = $dir
mail_owner = postfix
setgid_group = postdrop
myhostname = mail.test
mydomain = mail.test
myorigin = mail.test
mydestination =
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
mynetworks = 127.0.0.0/8
smtpd_peername_lookup = no
smtpd_banner = mail.test ESMTP
alias_maps =
alias_database =
biff = no
virtual_mailbox_domains = mail.test
virtual_mailbox_base = $dir/mail
virtual_mailbox_maps = static:all/
# Bounces and anything else not for mail.test go nowhere.
default_transport = discard
virtual_uid_maps = static:$box_uid
virtual_gid_maps = static:$box_gid
smtpd_recipient_restrictions = check_recipient_access regexp:$conf/refused, permit_mynetworks, reject_unauth_destination
smtpd_tls_security_level = may
smtpd_tls_cert_file = $tls/good.pem
smtpd_tls_key_file = $tls/good.key
smtpd_sasl_auth_enable = no
smtpd_error_sleep_time = 0
smtpd_soft_error_limit = 1000
smtpd_hard_error_limit = 1000
smtpd_junk_command_limit = 100000
in_flow_delay = 0
CONF
    cat >"$conf/master.cf" <<CONF
127.0.0.1:${ports[0]} inet n - n - - smtpd
127.0.0.1:${ports[1]} inet n - n - - smtpd -o smtpd_discard_ehlo_keywords=pipelining,chunking
127.0.0.1:${ports[2]} inet n - n - - smtpd -o smtpd_discard_ehlo_keywords=pipelining
pickup    unix  n - n 60 1 pickup
cleanup   unix  n - n - 0 cleanup
qmgr      unix  n - n 300 1 qmgr
tlsmgr    unix  - - n 1000? 1 tlsmgr
rewrite   unix  - - n - - trivial-rewrite
bounce    unix  - - n - 0 bounce
defer     unix  - - n - 0 bounce
trace     unix  - - n - 0 bounce
verify    unix  - - n - 1 verify
flush     unix  n - n 1000? 0 flush
proxymap  unix  - - n - - proxymap
smtp      unix  - - n - - smtp
relay     unix  - - n - - smtp
showq     unix  n - n - - showq
error     unix  - - n - - error
retry     unix  - - n - - error
discard   unix  - - n - - discard
local     unix  - n n - - local
virtual   unix  - n n - - virtual
anvil     unix  - - n - 1 anvil
scache    unix  - - n - 1 scache
postlog   unix-dgram n - n - 1 postlogd
CONF
}

ready() {
    local port
    for port in "${ports[@]}"; do
        /usr/bin/python3 - "$port" <<'PY' || return 1
import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=5)
ok = s.recv(512).startswith(b"220")
s.sendall(b"QUIT\r\n")
sys.exit(0 if ok else 1)
PY
    done
}

case "$mode" in
setup)
    command -v postfix >/dev/null || { echo "Postfix is not installed (scripts/setup.d/mailweb.sh)"; exit 1; }
    [ -s "$tls/good.pem" ] || { echo "no test certificate: the tls fixture makes it"; exit 1; }
    stop
    rm -rf "$dir"
    [ -z "${QK_POSTFIX_QUEUE:-}" ] || rm -rf "$queue"
    configure
    if ! postfix -c "$conf" start >"$dir/start.out" 2>&1; then
        echo "Postfix did not start:"; cat "$dir/start.out" "$dir/maillog" 2>/dev/null; exit 1
    fi
    if ! fixture_until 100 ready 2>/dev/null; then
        echo "Postfix does not answer:"; cat "$dir/maillog" 2>/dev/null; stop; exit 1
    fi
    echo "Postfix on 127.0.0.1:${ports[0]} (PIPELINING, CHUNKING), ${ports[1]} (neither), ${ports[2]} (CHUNKING), Maildir $dir/mail/all"
    ;;
teardown)
    stop
    echo "Postfix stopped"
    ;;
*)
    echo "usage: $0 BUILD_DIR setup|teardown"; exit 2 ;;
esac
exit 0
