#!/bin/bash
# DecodeAttachments on a 10 MB body of 5,000 small uuencoded blocks against
# a 10 MB body holding one block; the target is at most 3 times the time.
# Usage: bench/decode_blocks.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
. "$here/bench/decode/bench-lib.sh"
decode_bench_build "$build"
trap decode_bench_stop EXIT
decode_bench_start "$build"
wine "$build/bin/decode_bench.exe" blocks </dev/null 2>/dev/null | tr -d '\r'
