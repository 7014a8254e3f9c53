#!/bin/bash
# One running instance of the news site, everything on 127.0.0.1:
#   site-fixture.sh BUILD_DIR NAME BASE_PORT setup|teardown
# NAME picks the instance folder BUILD_DIR/site-NAME, so the demo, the
# browser tests and the benchmark each have their own, with their own Wine
# prefix (its registry holds the news store's web root, which must not be
# the one the other tests of the build tree use) and their own ports, at
# the distances QK_SITE_* of tests/support/ports.sh from BASE_PORT:
#   INN, INN_AUTH  INN (demo groups, plus the golden articles)
#   MAIL           the mailbox server (tests/mailweb/smtp_sink.py --mailbox)
#   NGINX          nginx: the address to open; static files
#   HOST           the page host, behind nginx
#   FETCH          nginx: another web server, the one fetch.asp may read
#   LOAD_*         more page hosts and a slow web server the load test
#                  starts (tests/site/load_test.py)
# The demo uses QK_PORT_SITE_DEMO, the browser tests QK_PORT_SITE_BROWSER,
# the benchmark QK_PORT_SITE_BENCH.
set -u
here=$(cd "$(dirname "$0")/../.." && pwd)
. "$here/tests/support/fixture-lib.sh"
build=$(cd "$1" && pwd)
name=$2
base=$3
mode=$4
dir=$build/site-$name
www=$dir/www
nginx_port=$((base + QK_SITE_NGINX))
host_port=$((base + QK_SITE_HOST))
fetch_port=$((base + QK_SITE_FETCH))
mail_port=$((base + QK_SITE_MAIL))
export QK_INN_PORT=$((base + QK_SITE_INN)) QK_INN_AUTH_PORT=$((base + QK_SITE_INN_AUTH)) QK_INN_FILL=articles

stop_all() {
    # The host's restart loop leads its own process group: the loop and the host go together.
    fixture_stop "$dir/host.pid" group
    fixture_stop "$dir/nginx.pid"
    fixture_stop "$dir/mailbox.pid"
    [ -d "$dir" ] && "$here/tests/news/inn-fixture.sh" "$dir" teardown >/dev/null 2>&1
    if [ -d "$dir/wine" ]; then
        (. "$here/scripts/wine-env.sh" "$dir" && fixture_wine_stop)
    fi
}

fail() {
    echo "site $name: $*"
    for log in "$dir/host.log" "$dir/nginx-error.log"; do
        [ -s "$log" ] && { echo "--- $log"; tail -n 20 "$log"; }
    done
    stop_all
    exit 1
}

setup() {
    stop_all
    [ -x "$build/bin/PageHost.exe" ] || fail "build PageHost first"
    rm -rf "$www" "$dir/mailbox" "$dir/tmp" "$dir/samples" "$dir/neighbour"
    mkdir -p "$www/uploads" "$www/news" "$dir/mailbox" "$dir/tmp" "$dir/neighbour"
    cp -r "$here/site/." "$www/"
    cp "$here/site/welcome.html" "$dir/neighbour/index.html"
    # The pages the fetch page is shown with in each charset.
    cp "$here/site/welcome-utf8.html" "$here/site/welcome-latin1.html" "$dir/neighbour/"
    # Pages only the tests ask for (an endless loop, ...), never in the demo.
    [ "$name" = demo ] || cp -r "$here/tests/site/pages" "$www/test"
    /usr/bin/python3 "$here/tests/site/site_data.py" images "$www" || fail "making the pictures failed"
    /usr/bin/python3 "$here/tests/site/site_data.py" uploads "$dir/samples" || fail "making the samples failed"

    # The Wine prefix with both components registered, and the store settings.
    . "$here/scripts/wine-env.sh" "$dir"
    fixture_wine_start
    local failed
    failed=$(fixture_wine_register "$build/bin") || fail "$failed"

    # The news server: its own instance on this site's ports, with the demo groups.
    "$here/tests/news/inn-fixture.sh" "$dir" setup >"$dir/inn.log" 2>&1 || fail "INN: $(tail -n 5 "$dir/inn.log")"
    # demo.secure takes articles only from readers logged in over TLS.
    "$here/tests/news/inn-fixture.sh" "$dir" newgroups demo.talk demo.pictures demo.binaries demo.big demo.secure \
        demo.intl >>"$dir/inn.log" 2>&1 || fail "INN: $(tail -n 5 "$dir/inn.log")"
    /usr/bin/python3 "$here/tests/site/site_data.py" post "$QK_INN_PORT" || fail "posting the demo articles failed"

    # The store lies below the web root, so nginx serves what the reader extracts.
    wine reg add 'HKLM\Software\Yarrowfen\Quillnet' /v WWWRoot /t REG_SZ /d "$(winpath "$www")" /f \
        </dev/null >/dev/null 2>&1
    wine reg add 'HKLM\Software\Yarrowfen\Quillnet' /v DataRoot /t REG_SZ /d '\news' /f </dev/null >/dev/null 2>&1
    # Pages hand their news connection on to the next page (docs/guide.md).
    wine reg add 'HKLM\Software\Yarrowfen\Quillnet' /v NewsConnectionReuse /t REG_DWORD /d 30 /f \
        </dev/null >/dev/null 2>&1
    cat >"$www/settings.inc" <<EOF
<%
' Written by tests/site/site-fixture.sh for this instance.
Const NewsServer = "127.0.0.1:$QK_INN_PORT"
Const MailServer = "127.0.0.1:$mail_port"
Const MailFrom = "news-site@example.invalid"
Const MailboxFolder = "$(winpath "$dir/mailbox")"
Const SiteAddress = "http://127.0.0.1:$nginx_port/"
Const FetchAllowed = "127.0.0.1:$fetch_port"
%>
EOF

    fixture_start "$dir/mailbox.pid" "$dir/mailbox.log" /usr/bin/python3 "$here/tests/mailweb/smtp_sink.py" \
        --port "$mail_port" --mailbox "$dir/mailbox" --ready "$dir/mailbox.ready"
    fixture_wait_file "$dir/mailbox.ready" "$(cat "$dir/mailbox.pid")" 300 ||
        fail "the mailbox server did not start: $(cat "$dir/mailbox.log")"

    sed -e "s|@DIR@|$dir|g" -e "s|@WWW@|$www|g" -e "s|@PORT@|$nginx_port|g" -e "s|@HOST_PORT@|$host_port|g" \
        -e "s|@FETCH_PORT@|$fetch_port|g" \
        "$here/tests/site/nginx.conf.in" >"$dir/nginx.conf"
    nginx -p "$dir" -e "$dir/nginx-error.log" -c "$dir/nginx.conf" </dev/null >/dev/null 2>&1 || fail "nginx did not start"

    # A page can still crash the platform's script engine, and with it the
    # host process; the loop starts it again so the site keeps serving, and
    # logs it: teardown fails the run when it happened (tests/site/host_log.py).
    # It leads a process group of its own, so stopping the group ends the
    # loop and the host together.
    fixture_start "$dir/host.pid" "$dir/host.log" bash -c 'while :; do "$0" "$1" --root "$2" --port "$3"
        echo "page host ended ($?) at $(date -u +%T), starting it again"; sleep 1; done' \
        wine "$build/bin/PageHost.exe" "$(winpath "$www")" "$host_port"
    fixture_wait_port "$host_port" 600 || fail "the page host did not start"
    fixture_wait_port "$nginx_port" 300 || fail "nginx is not listening"
    fixture_wait_port "$fetch_port" 300 || fail "nginx is not listening on $fetch_port"
    echo "news site $name: http://127.0.0.1:$nginx_port/"
}

# A host that died while the site ran is a failure, even though the loop
# restarted it and every test after it passed.
teardown() {
    local deaths=""
    [ -s "$dir/host.log" ] && deaths=$(/usr/bin/python3 "$here/tests/site/host_log.py" "$dir/host.log")
    stop_all
    if [ -n "$deaths" ]; then
        echo "news site $name: $deaths"
        exit 1
    fi
    echo "news site $name stopped"
}

case "$mode" in
setup) setup ;;
teardown) teardown ;;
*) echo "usage: $0 BUILD_DIR NAME BASE_PORT setup|teardown"; exit 2 ;;
esac
exit 0
