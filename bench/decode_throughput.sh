#!/bin/bash
# DecodeAttachments on 20 MB bodies (one base64 MIME attachment, one
# uuencoded block, one yEnc block) beside `base64 -d` and `uudecode` (from
# sharutils) on the same encoded data, all in this run.
# Usage: bench/decode_throughput.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
. "$here/bench/decode/bench-lib.sh"
decode_bench_build "$build"

work=$(mktemp -d)
trap 'decode_bench_stop; rm -rf "$work"' EXIT
decode_bench_start "$build"
wine "$build/bin/decode_bench.exe" throughput "$(winpath "$work")" </dev/null >"$work/ours.txt" 2>/dev/null
tr -d '\r' <"$work/ours.txt"

b64_size=$(stat -c %s "$work/payload.b64")
uue_size=$(stat -c %s "$work/payload.uue")
b64_s=$(best_of 5 sh -c "base64 -d <'$work/payload.b64' >/dev/null")
uue_s=$(best_of 5 uudecode -o /dev/null "$work/payload.uue")
rate() { awk -v b="$1" -v s="$2" 'BEGIN { printf "%.1f", b / 1e6 / s }'; }
printf 'base64 -d   input %6.1f MB  %7s MB/s (whole process)\n' "$(awk -v b="$b64_size" 'BEGIN{print b/1e6}')" "$(rate "$b64_size" "$b64_s")"
printf 'uudecode    input %6.1f MB  %7s MB/s (whole process)\n' "$(awk -v b="$uue_size" 'BEGIN{print b/1e6}')" "$(rate "$uue_size" "$uue_s")"

ours() { tr -d '\r' <"$work/ours.txt" | awk -v k="$1" '$1 == k { print $6 }'; }
for pair in "base64:$(rate "$b64_size" "$b64_s")" "uuencode:$(rate "$uue_size" "$uue_s")" "yEnc:"; do
    name=${pair%%:*}
    tool=${pair#*:}
    mine=$(ours "$name")
    verdict=$(awk -v m="$mine" 'BEGIN { print (m >= 1000 ? "meets" : "MISSES") }')
    if [ -n "$tool" ]; then
        printf '%-8s ours %s MB/s = %.2f x the tool; target 1000 MB/s: %s\n' "$name" "$mine" \
            "$(awk -v m="$mine" -v t="$tool" 'BEGIN { print m / t }')" "$verdict"
    else
        printf '%-8s ours %s MB/s; target 1000 MB/s: %s\n' "$name" "$mine" "$verdict"
    fi
done
