# Sourced by bench/decode_*.sh: builds the bench program and runs it in the
# build tree's own Wine prefix.
decode_bench_build() {
    cmake --build "$1" --target decode_bench -j2 >/dev/null
}
. "$here/tests/support/fixture-lib.sh"
decode_bench_start() {
    . "$here/scripts/wine-env.sh" "$1"
    fixture_wine_start
}
decode_bench_stop() { fixture_wine_stop; }
# best_of N COMMAND...: the shortest wall time of N runs, in seconds.
best_of() {
    local n=$1 best="" start end t
    shift
    for _ in $(seq "$n"); do
        start=$(date +%s%N)
        "$@" >/dev/null 2>&1
        end=$(date +%s%N)
        t=$(( end - start ))
        if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
    done
    awk -v ns="$best" 'BEGIN { printf "%.6f", ns / 1e9 }'
}
