# Sourced by bench/news_*.sh: the fixtures they run against, and the ratio
# of the two medians they print.
# news_bench_start BUILD_DIR: the build tree's Wine prefix and INN on
# 127.0.0.1:$QK_PORT_INN, both stopped again when the script ends.
. "$here/tests/support/fixture-lib.sh"
news_bench_start() {
    news_bench_build=$1
    . "$here/scripts/wine-env.sh" "$news_bench_build"
    "$here/tests/wine-fixture.sh" "$news_bench_build" setup >/dev/null
    trap news_bench_stop EXIT
    "$here/tests/news/inn-fixture.sh" "$news_bench_build" setup >/dev/null
}
news_bench_stop() {
    "$here/tests/news/inn-fixture.sh" "$news_bench_build" teardown >/dev/null || true
    "$here/tests/wine-fixture.sh" "$news_bench_build" teardown >/dev/null || true
}
# median_ratio OURS THEIRS TARGET: both lines as printed, then the ratio of
# their median_ms figures; fails when a side printed none.
median_ratio() {
    echo "$1"
    echo "$2"
    local a b
    a=$(sed -n 's/.*median_ms=\([0-9.]*\).*/\1/p' <<<"$1")
    b=$(sed -n 's/.*median_ms=\([0-9.]*\).*/\1/p' <<<"$2")
    if [ -z "$a" ] || [ -z "$b" ]; then
        echo "a side did not finish"
        return 1
    fi
    python3 -c "import sys; a,b=float(sys.argv[1]),float(sys.argv[2]); print('ratio mynntp/nntplib = %.2f (target at most %s)' % (a/b if b else float('inf'), sys.argv[3]))" "$a" "$b" "$3"
}
