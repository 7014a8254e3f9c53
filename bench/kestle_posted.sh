#!/bin/bash
# SavePostedFile on a 100 MB body with one file part, end to end through the
# interface (walk, temporary file, write, rename), beside memcpy of the same
# bytes in the same process. Target: at least 1000 MB/s.
# Then the same call by name through IDispatch::Invoke, the body by value and
# by reference (and, for comparison, through the type library's Invoke),
# beside a plain WriteFile of the file's bytes under a temporary name and its
# rename. Target: by value and by reference each at least 0.8 of the plain
# write's throughput.
# Usage: bench/kestle_posted.sh BUILD_DIR [MEGABYTES]
set -euo pipefail
build=$(cd "${1:?usage: $0 BUILD_DIR [MEGABYTES]}" && pwd)
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/wine-env.sh" "$build"
[ -x "$build/bin/kestle_bench.exe" ] || { echo "build $build first (kestle_bench.exe missing)"; exit 1; }
folder="$build/bench-kestle/posted"
mkdir -p "$folder"
. "$here/tests/support/fixture-lib.sh"
fixture_wine_start
trap fixture_wine_stop EXIT
wine "$build/bin/kestle_bench.exe" posted "${2:-100}" "$(winpath "$folder")" </dev/null 2>/dev/null | tr -d '\r'
