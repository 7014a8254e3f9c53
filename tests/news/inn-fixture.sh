#!/bin/bash
# ctest fixture: a private INN news server on 127.0.0.1 for the news tests.
#   inn-fixture.sh BUILD_DIR setup     start it afresh and fill its groups
#   inn-fixture.sh BUILD_DIR teardown  stop it
#   inn-fixture.sh BUILD_DIR settings  only write the store settings below
#   inn-fixture.sh BUILD_DIR newgroups GROUP...  add empty groups to the
#                                      running instance (the news site's)
# The instance has its own configuration, history, spool and overview in a
# state folder (INNCONF points every INN program at it), so the system-wide
# installation stays untouched and every run starts from the same article
# numbers. It listens on (tests/support/ports.sh):
#   QK_PORT_INN            innd, handing readers to nnrpd (no authentication)
#   QK_PORT_INN_AUTH       nnrpd that requires AUTHINFO USER/PASS (user
#                          "reader", password "secret-word")
#   QK_PORT_INN_TLS        nnrpd speaking TLS from the first byte (as on
#                          563), AUTHINFO required as on QK_PORT_INN_AUTH
#   QK_PORT_INN_STARTTLS   nnrpd offering STARTTLS, AUTHINFO required too
#   QK_PORT_INN_READONLY   nnrpd for readers only: POST is answered 440 (not
#                          on an instance filled with the golden articles only)
# QK_INN_PORT and QK_INN_AUTH_PORT put the first two elsewhere (a second
# instance: the golden articles' one, a news site's).
# Readers may post to every group but the *.secure ones (test.secure,
# demo.secure on the site's instance), which take posts only from a reader
# logged in with AUTHINFO; the password listeners allow that.
# The two TLS listeners present the "good" certificate of
# tests/tls/test-ca.sh (localhost, from the test root); an instance filled
# with the golden articles only has none.
# Groups:
#   test.small  40 articles, numbers 1-40
#   test.big    350 articles, numbers 1-350
#   test.gap    330 articles, of which 21-260 are cancelled
#   test.empty  no article
#   test.post   no article at first: the posting tests post here
#   test.secure no article at first: posting needs AUTHINFO
#   test.intl   the international articles of tests/site/site_data.py
#               (INTL_ARTICLES): encoded words, raw UTF-8 and Latin-1
#   test.articles  the golden articles of tests/data/articles, one article
#               per folder, with the subject "golden FOLDER" (a body holding
#               a zero byte is left out: INN ends an article there); the
#               names posted are listed in BUILD_DIR/inn-PORT-golden.txt
# QK_INN_FILL=articles fills test.articles only, for an instance that
# exists just for the golden articles. QK_INN_HUGE=1 (the TLS benchmark)
# also posts test.huge: one article with a body of 20,000,000 bytes.
# It also writes the news store settings of the build tree's Wine prefix.
# INN runs as the news user; its state folder lives below /var/lib because a
# build tree may sit in a folder that user cannot enter. Each build tree has
# its own state folder, so one tree's setup never stops another tree's
# server; the ports are shared, so a tree waits while another holds them.
set -u
build=$(cd "$1" && pwd)
mode=$2
here=$(cd "$(dirname "$0")/../.." && pwd)
. "$here/tests/support/fixture-lib.sh"

PORT=${QK_INN_PORT:-$QK_PORT_INN}
AUTH_PORT=${QK_INN_AUTH_PORT:-$QK_PORT_INN_AUTH}
TLS_PORT=$QK_PORT_INN_TLS
STARTTLS_PORT=$QK_PORT_INN_STARTTLS
READONLY_PORT=$QK_PORT_INN_READONLY
FILL=${QK_INN_FILL:-all}
BIN=/usr/lib/news/bin
state=/var/lib/quillnet-tests/inn-$PORT-$(printf '%s' "$build" | cksum | cut -d' ' -f1)
export INNCONF=$state/etc/inn.conf
TLS_CONF=$state/etc/inn-tls.conf

as_news() { su -s /bin/sh news -c "INNCONF='$INNCONF' $*"; }

with_tls() { [ "$FILL" != articles ]; }

# Whether the reader ports (and the TLS one) are free, of this or another tree's instance.
readers_closed() { ! fixture_listening "$PORT" && ! fixture_listening "$AUTH_PORT"; }
all_closed() { readers_closed && ! { with_tls && fixture_listening "$TLS_PORT"; }; }
ctlinnd_answers() { "$BIN/ctlinnd" -s -t 1 mode >/dev/null 2>&1; }

stop_instance() {
    # nnrpd -D keeps its pid in run/nnrpd-PORT.pid.
    local p
    for p in "$AUTH_PORT" "$TLS_PORT" "$STARTTLS_PORT" "$READONLY_PORT"; do
        with_tls || [ "$p" = "$AUTH_PORT" ] || continue
        fixture_stop "$state/run/nnrpd-$p.pid"
    done
    if [ -f "$INNCONF" ] && "$BIN/ctlinnd" -s -t 2 mode >/dev/null 2>&1; then
        "$BIN/ctlinnd" -s -t 10 shutdown 'news tests done' >/dev/null 2>&1
    fi
    # The nnrpd that innd started for each reader outlives innd and goes on
    # serving from the spool; they are this instance's when they run as the
    # news user with our INNCONF.
    local pid news_uid
    news_uid=$(id -u news)
    for pid in $(grep -lsFxz -e "INNCONF=$INNCONF" -e "INNCONF=$TLS_CONF" /proc/[0-9]*/environ | cut -d/ -f3); do
        [ "$(stat -c %u "/proc/$pid" 2>/dev/null)" = "$news_uid" ] && kill "$pid" 2>/dev/null
    done
    # innd leaves its pid file behind when it is killed; wait for the port.
    fixture_until 100 all_closed && return 0
    if [ -f "$state/run/innd.pid" ]; then
        kill "$(cat "$state/run/innd.pid")" 2>/dev/null
        sleep 1
    fi
}

write_config() {
    rm -rf "$state"
    mkdir -p "$state"/{etc,db,run,log,tmp,spool/{articles,overview,incoming/tmp,outgoing,archive,innfeed}}
    cp -a /etc/news/. "$state/etc/"
    # Every key that names a place is moved into the state folder; the rest
    # keeps Debian's defaults except what a test server on a busy machine
    # needs: no load limit for readers, old dates accepted, a loopback port.
    local conf=$state/etc/inn.conf
    set_key() {
        if grep -Eq "^#?[[:space:]]*$1:" "$conf"; then
            sed -i -E "s|^#?[[:space:]]*$1:.*|$1: $2|" "$conf"
        else
            echo "$1: $2" >>"$conf"
        fi
    }
    set_key domain localdomain
    set_key pathhost quillnet-test.localdomain
    set_key server 127.0.0.1
    set_key bindaddress 127.0.0.1
    set_key bindaddress6 none
    set_key port "$PORT"
    set_key nnrpdpostport "$PORT"
    set_key nnrpdloadlimit 0
    set_key artcutoff 0
    set_key maxartsize 21000000
    set_key localmaxartsize 21000000
    set_key doinnwatch false
    set_key pathetc "$state/etc"
    set_key pathdb "$state/db"
    set_key pathrun "$state/run"
    set_key pathlog "$state/log"
    set_key pathtmp "$state/tmp"
    set_key pathspool "$state/spool"
    set_key patharticles "$state/spool/articles"
    set_key pathoverview "$state/spool/overview"
    set_key pathincoming "$state/spool/incoming"
    set_key pathoutgoing "$state/spool/outgoing"
    set_key patharchive "$state/spool/archive"
    set_key pathfilter "$state/etc/filter"
    set_key pathhttp "$state/tmp"
    # No feeds and no control channel: the server only stores what is posted.
    printf 'ME:!*/!local::\n' >"$state/etc/newsfeeds"
    # Loopback clients must be readers, not peers; a peer on 127.0.0.2 keeps
    # IHAVE injection possible.
    cat >"$state/etc/incoming.conf" <<'EOF'
streaming: true
max-connections: 8
peer injector {
  hostname: "127.0.0.2"
}
EOF
    cat >"$state/etc/readers.conf" <<'EOF'
auth "loopback" {
    hosts: "127.0.0.1, localhost, ::1, stdin"
    default: "<reader>"
}
access "loopback" {
    users: "<reader>"
    read: "*"
    post: "*,!*.secure"
    access: RPA
}
EOF
    cat >"$state/etc/readers-readonly.conf" <<'EOF'
auth "loopback" {
    hosts: "127.0.0.1, localhost, ::1"
    default: "<reader>"
}
access "loopback" {
    users: "<reader>"
    newsgroups: "*"
    access: R
}
EOF
    # The listener that requires authentication: ckpasswd checks a crypt(3)
    # hash of the test password.
    printf 'reader:%s\n' "$(openssl passwd -6 -salt quillnet secret-word)" >"$state/etc/passwd.test"
    cat >"$state/etc/readers-auth.conf" <<EOF
auth "password" {
    hosts: "127.0.0.1, localhost, ::1"
    auth: "ckpasswd -f $state/etc/passwd.test"
}
access "password" {
    users: "reader"
    newsgroups: "*"
    access: RPA
}
EOF
    cat >"$state/db/active" <<'EOF'
control 0000000000 0000000001 n
control.cancel 0000000000 0000000001 n
junk 0000000000 0000000001 n
EOF
    : >"$state/db/active.times"
    printf 'control\tVarious control messages.\njunk\tUnfiled articles.\n' >"$state/db/newsgroups"
    : >"$state/spool/tradspool.map"
    : >"$state/db/history"
    if with_tls; then
        # The TLS listeners read a configuration of their own, so the plain
        # ones never offer STARTTLS.
        "$here/tests/tls/test-ca.sh" "$build/tls" || return 1
        mkdir -p "$state/etc/tls"
        cp "$build/tls/ca.pem" "$build/tls/good.pem" "$build/tls/good.key" "$state/etc/tls/"
        cp "$conf" "$TLS_CONF"
        conf=$TLS_CONF
        set_key tlscafile "$state/etc/tls/ca.pem"
        set_key tlscertfile "$state/etc/tls/good.pem"
        set_key tlskeyfile "$state/etc/tls/good.key"
    fi
    chown -R news:news "$state"
    chmod 640 "$state/etc/passwd.test"
    [ -f "$state/etc/tls/good.key" ] && chmod 600 "$state/etc/tls/good.key"
    as_news "cd '$state/db' && $BIN/makedbz -i -o" || return 1
}

post_articles() {
    # group count first_subject_prefix: posts through nnrpd with Python's
    # nntplib, with Message-IDs we can cancel by.
    python3 - "$PORT" <<'EOF'
import sys, warnings
warnings.simplefilter("ignore", DeprecationWarning)
import nntplib
port = int(sys.argv[1])
plan = [("test.small", 40), ("test.big", 350), ("test.gap", 330)]
s = nntplib.NNTP("127.0.0.1", port, readermode=True)
for group, count in plan:
    for n in range(1, count + 1):
        body = ["Line %d of article %d in %s." % (i, n, group) for i in range(1, 1 + (n % 7) + 1)]
        head = [
            "From: Poster %d <poster%d@example.invalid>" % (n % 5, n % 5),
            "Newsgroups: %s" % group,
            "Subject: %s article %d" % (group, n),
            "Message-ID: <%s-%d@quillnet.test>" % (group, n),
            "Date: Mon, 01 Jan 2024 %02d:%02d:00 +0000" % ((n // 60) % 24, n % 60),
        ]
        s.post([l.encode() for l in head + [""] + body])
s.quit()
EOF
}

post_golden_articles() {
    # Each body goes out byte for byte: every line gets CR LF, so a CR that
    # ends a line of the body travels as part of it, as it does on disk.
    python3 - "$PORT" "$here/tests/data/articles" "$build/inn-$PORT-golden.txt" <<'EOF'
import os, sys, warnings
warnings.simplefilter("ignore", DeprecationWarning)
import nntplib
port, folder, manifest = int(sys.argv[1]), sys.argv[2], sys.argv[3]
s = nntplib.NNTP("127.0.0.1", port, readermode=True)
posted = []
for name in sorted(os.listdir(folder)):
    path = os.path.join(folder, name, "body.txt")
    if not os.path.isfile(path):
        continue
    with open(path, "rb") as f:
        body = f.read()
    if b"\0" in body:
        continue
    lines = body.split(b"\n")
    if lines[-1] == b"":
        lines.pop()
    head = [
        b"From: Golden Articles <golden@example.invalid>",
        b"Newsgroups: test.articles",
        b"Subject: golden " + name.encode(),
        b"Message-ID: <golden-" + name.encode() + b"@quillnet.test>",
        b"Date: Mon, 01 Jan 2024 12:00:00 +0000",
    ]
    s.post([line + b"\r\n" for line in head + [b""] + lines])
    posted.append(name)
s.quit()
with open(manifest, "w") as f:
    f.write("".join(n + "\n" for n in posted))
EOF
}

start_instance() {
    mkdir -p "$state/run"
    chown news:news "$state/run"
    # innd writes to /dev/null as news; a /dev/null without write bits for
    # others makes it fail with "cannot fork".
    chmod 666 /dev/null 2>/dev/null
    as_news "$BIN/innd" || return 1
    fixture_until 100 ctlinnd_answers
    "$BIN/ctlinnd" -s -t 5 mode >/dev/null 2>&1 || { echo "innd did not come up"; return 1; }
    fixture_wait_port "$PORT" 50
    if [ "$FILL" != articles ]; then
    for g in test.small test.big test.gap test.empty test.post test.secure; do
        "$BIN/ctlinnd" -s newgroup "$g" y quillnet >/dev/null || return 1
    done
    post_articles || { echo "posting the test articles failed"; return 1; }
    # The gap: cancel articles 21-260 of test.gap, then let expireover
    # refresh the overview so OVER leaves them out.
    for n in $(seq 21 260); do
        "$BIN/ctlinnd" -s cancel "<test.gap-$n@quillnet.test>" >/dev/null || return 1
    done
    as_news "$BIN/expireover -s -f - -Z '$state/tmp/lowmark'" >/dev/null 2>&1
    [ -s "$state/tmp/lowmark" ] && "$BIN/ctlinnd" -s lowmark "$state/tmp/lowmark" >/dev/null 2>&1
    fi
    if [ "${QK_INN_HUGE:-0}" = 1 ]; then
        "$BIN/ctlinnd" -s newgroup test.huge y quillnet >/dev/null || return 1
        python3 - "$PORT" <<'EOF' || { echo "posting the large article failed"; return 1; }
import sys, warnings
warnings.simplefilter("ignore", DeprecationWarning)
import nntplib
line = b"0123456789" * 7 + b"abcdef"  # 76 bytes, 78 with CR LF
lines = [line] * (20000000 // 78 - 1) + [b"x" * (20000000 % 78 + 76)]
head = [b"From: Bench <bench@example.invalid>", b"Newsgroups: test.huge", b"Subject: 20 MB",
        b"Message-ID: <huge-1@quillnet.test>", b"Date: Mon, 01 Jan 2024 12:00:00 +0000", b""]
s = nntplib.NNTP("127.0.0.1", int(sys.argv[1]), readermode=True)
s.post([l + b"\r\n" for l in head + lines])
s.quit()
EOF
    fi
    if [ "$FILL" != articles ]; then
        "$BIN/ctlinnd" -s newgroup test.intl y quillnet >/dev/null || return 1
        python3 "$here/tests/site/site_data.py" intl "$PORT" test.intl || { echo "posting test.intl failed"; return 1; }
    fi
    "$BIN/ctlinnd" -s newgroup test.articles y quillnet >/dev/null || return 1
    post_golden_articles || { echo "posting the golden articles failed"; return 1; }
    # The password listener: a standalone nnrpd daemon.
    as_news "$BIN/nnrpd -D -4 127.0.0.1 -p $AUTH_PORT -c $state/etc/readers-auth.conf" || return 1
    fixture_wait_port "$AUTH_PORT" 50 || { echo "nnrpd on $AUTH_PORT did not come up"; return 1; }
    if with_tls; then
        as_news "$BIN/nnrpd -D -4 127.0.0.1 -p $READONLY_PORT -c $state/etc/readers-readonly.conf" || return 1
        fixture_wait_port "$READONLY_PORT" 50 || { echo "nnrpd on $READONLY_PORT did not come up"; return 1; }
    fi
    if with_tls; then
        su -s /bin/sh news -c "INNCONF='$TLS_CONF' $BIN/nnrpd -D -4 127.0.0.1 -p $TLS_PORT -S \
            -c $state/etc/readers-auth.conf" || return 1
        su -s /bin/sh news -c "INNCONF='$TLS_CONF' $BIN/nnrpd -D -4 127.0.0.1 -p $STARTTLS_PORT \
            -c $state/etc/readers-auth.conf" || return 1
        for p in "$TLS_PORT" "$STARTTLS_PORT"; do
            fixture_wait_port "$p" 50 || { echo "nnrpd on $p did not come up"; return 1; }
        done
    fi
    return 0
}

write_registry() {
    # The news store of this build tree, as an installer would set it.
    . "$here/scripts/wine-env.sh" "$build"
    local store=$build/news-store
    mkdir -p "$store/news"
    wine reg add 'HKLM\Software\Yarrowfen\Quillnet' /v WWWRoot /t REG_SZ /d "$(winpath "$store")" /f \
        </dev/null >/dev/null 2>&1
    wine reg add 'HKLM\Software\Yarrowfen\Quillnet' /v DataRoot /t REG_SZ /d '\news' /f </dev/null >/dev/null 2>&1
}

case "$mode" in
setup)
    if [ ! -x "$BIN/innd" ]; then
        echo "INN is not installed: run scripts/setup.d/news.sh first"
        exit 1
    fi
    stop_instance
    # Another build tree's instance may still hold the port; wait for it.
    if ! fixture_until 6000 readers_closed; then
        echo "port $PORT or $AUTH_PORT is taken by another server"
        exit 1
    fi
    write_config || { echo "writing the INN configuration failed"; exit 1; }
    if ! start_instance; then
        echo "--- INN log"
        tail -n 30 "$state/log/news.err" "$state/log/news.notice" 2>/dev/null
        stop_instance
        exit 1
    fi
    write_registry
    echo "INN ready on 127.0.0.1:$PORT (and :$AUTH_PORT with AUTHINFO)"
    with_tls && echo "TLS on :$TLS_PORT, STARTTLS on :$STARTTLS_PORT (both with AUTHINFO)"
    ;;
teardown)
    stop_instance
    echo "INN stopped"
    ;;
newgroups)
    shift 2
    for g in "$@"; do
        "$BIN/ctlinnd" -s newgroup "$g" y quillnet >/dev/null || { echo "newgroup $g failed"; exit 1; }
    done
    ;;
settings)
    # Only the store settings, for a prefix whose tests use another tree's
    # server (the 32-bit one's).
    write_registry
    echo "news store settings written"
    ;;
*)
    echo "usage: $0 BUILD_DIR setup|teardown|settings|newgroups GROUP..."
    exit 2
    ;;
esac
exit 0
