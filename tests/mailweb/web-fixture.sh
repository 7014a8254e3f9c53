#!/bin/bash
# ctest fixture: nginx (static files, Basic auth, redirects, 404) on
# 127.0.0.1:$QK_PORT_NGINX and tinyproxy on 127.0.0.1:$QK_PORT_PROXY
# (tests/support/ports.sh), each with its own config, pid file and logs in
# BUILD_DIR/mailweb/web. Usage: web-fixture.sh BUILD_DIR setup|teardown
# Both daemons get all their standard streams redirected, or ctest would
# wait on the inherited pipe for as long as they live.
set -u
build=$(cd "$1" && pwd)
mode=$2
here=$(cd "$(dirname "$0")/../.." && pwd)
. "$here/tests/support/fixture-lib.sh"
dir=$build/mailweb/web
www=$dir/www
nginx_port=$QK_PORT_NGINX
proxy_port=$QK_PORT_PROXY

fill() {  # fill TEMPLATE OUT PORT
    sed -e "s|@DIR@|$dir|g" -e "s|@WWW@|$www|g" -e "s|@PORT@|$3|g" "$1" >"$2"
}

case "$mode" in
setup)
    fixture_stop "$dir/nginx.pid"
    fixture_stop "$dir/tinyproxy.pid"
    mkdir -p "$dir/tmp" "$www"
    cp -r "$here/tests/data/mailweb/www/." "$www/"
    # Files made here rather than kept in git: bytes an editor would mangle,
    # and the 50 MB file of the transfer test and benchmark.
    printf 'A\0B\0\0C' >"$www/zeros.bin"
    printf 'caf\xe9 cr\xe8me\n' >"$www/ansi.txt"
    if [ "$(stat -c %s "$www/big.bin" 2>/dev/null)" != 52428800 ]; then
        yes 'The quick brown fox jumps over the lazy dog 0123456789 abcdefghijklmnopqrstu' |
            head -c 52428800 >"$www/big.bin"
    fi
    printf 'reader:{PLAIN}s3cret word\n' >"$dir/htpasswd"
    : >"$dir/tinyproxy.log"
    chmod 777 "$dir"
    chmod 666 "$dir/tinyproxy.log"
    fill "$here/tests/mailweb/nginx.conf.in" "$dir/nginx.conf" $nginx_port
    fill "$here/tests/mailweb/tinyproxy.conf.in" "$dir/tinyproxy.conf" $proxy_port
    nginx -p "$dir" -e "$dir/nginx-error.log" -c "$dir/nginx.conf" </dev/null >/dev/null 2>&1 ||
        { echo "nginx did not start:"; cat "$dir/nginx-error.log"; exit 1; }
    tinyproxy -c "$dir/tinyproxy.conf" </dev/null >/dev/null 2>&1 ||
        { echo "tinyproxy did not start:"; cat "$dir/tinyproxy.log"; exit 1; }
    fixture_wait_port $nginx_port || { echo "nginx is not listening on $nginx_port"; exit 1; }
    fixture_wait_port $proxy_port || { echo "tinyproxy is not listening on $proxy_port"; exit 1; }
    echo "nginx on 127.0.0.1:$nginx_port, tinyproxy on 127.0.0.1:$proxy_port, files in $dir"
    ;;
teardown)
    fixture_stop "$dir/nginx.pid"
    fixture_stop "$dir/tinyproxy.pid"
    echo "nginx and tinyproxy stopped"
    ;;
*)
    echo "usage: $0 BUILD_DIR setup|teardown"; exit 2 ;;
esac
exit 0
