#!/bin/bash
# KestleImage making a 200x150 thumbnail at quality 75 (LoadImage, Iconize,
# SaveImage) of a 4000x3000 JPEG, the same picture as PNG and as a
# progressive JPEG, beside vipsthumbnail and ImageMagick on the same files in
# the same run.
# Ours is timed in-process, inside the script around the three calls (as a
# page in a long-running server pays it); vipsthumbnail's figure is its
# whole run less its own start-up, measured on a 16x16 picture. Medians of
# RUNS runs.
# Quality: PSNR of each thumbnail against a box-filtered reference of its own
# source. All write 4:2:0 JPEG at quality 75 (ImageMagick is told so: from a
# JPEG source of quality 90 or more it would otherwise keep 4:4:4 chroma,
# and the PSNR would measure chroma sampling rather than scaling).
# Usage: bench/kestle_thumbnail.sh BUILD_DIR   (RUNS=7 by default)
set -euo pipefail
build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-7}
. "$here/scripts/lib.sh"
ensure_packages libvips-tools imagemagick >/dev/null
. "$here/scripts/wine-env.sh" "$build"
work="$build/bench-kestle"
mkdir -p "$work"
cd "$work"
convert=/usr/bin/convert
compare=/usr/bin/compare

# A photo-like picture: plasma with a light blur, made once and kept.
if [ ! -s photo.jpg ] || [ ! -s photo.png ] || [ ! -s photo_progressive.jpg ]; then
    echo "making the 4000x3000 test pictures..."
    "$convert" -seed 42 -size 4000x3000 plasma:fractal -blur 0x1 -quality 92 photo.jpg
    "$convert" photo.jpg photo.png
    "$convert" photo.jpg -interlace JPEG -quality 92 photo_progressive.jpg
    "$convert" -size 16x16 xc:gray tiny.jpg
    "$convert" -size 16x16 xc:gray tiny.png
fi
"$here/tests/wine-fixture.sh" "$build" setup >/dev/null
trap '"$here/tests/wine-fixture.sh" "$build" teardown >/dev/null' EXIT

# median_ms CMD...: runs the command $runs times, prints the median wall time in ms.
median_ms() {
    local times=()
    for _ in $(seq "$runs"); do
        local start end
        start=$(date +%s%N)
        "$@" </dev/null >/dev/null 2>&1 || { echo "failed: $*" >&2; return 1; }
        end=$(date +%s%N)
        times+=($(( (end - start) / 1000 )))
    done
    printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.1f", a[int((NR+1)/2)]/1e3}'
}
# vips_work_ms BIG TINY OUT: vipsthumbnail on the picture and on the tiny one
# in turn, $runs times; prints the median of the paired differences (its work
# less its start-up), then the medians of the two whole runs. Pairing keeps a
# change in the machine's load from landing on one side only.
vips_work_ms() {
    local diffs=() bigs=() tinies=()
    for _ in $(seq "$runs"); do
        local t0 t1 t2
        t0=$(date +%s%N)
        vipsthumbnail "$1" -s '200x150!' -o "$3[Q=75]" </dev/null >/dev/null 2>&1 || return 1
        t1=$(date +%s%N)
        vipsthumbnail "$2" -s '8x8!' -o "vips_tiny.jpg[Q=75]" </dev/null >/dev/null 2>&1 || return 1
        t2=$(date +%s%N)
        bigs+=($(( (t1 - t0) / 1000 )))
        tinies+=($(( (t2 - t1) / 1000 )))
        diffs+=($(( (t1 - t0 - (t2 - t1)) / 1000 )))
    done
    local m
    for list in "${diffs[*]}" "${bigs[*]}" "${tinies[*]}"; do
        m=$(printf '%s\n' $list | sort -n | awk '{a[NR]=$1} END {printf "%.1f", a[int((NR+1)/2)]/1e3}')
        printf '%s ' "$m"
    done
    echo
}
# compare exits 1 whenever the pictures differ, which they always do here.
psnr() { { "$compare" -metric PSNR "$1" "$2" null: 2>&1 || true; } | awk '{print $1}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

status=0
for kind in jpg png progressive; do
    case $kind in
        progressive) in=photo_progressive.jpg tiny=tiny.jpg ;;
        *) in=photo.$kind tiny=tiny.$kind ;;
    esac
    read -r ours ours_best < <(wine "$CSCRIPT" //nologo "$(winpath "$here/bench/kestle_thumbnail.js")" \
        "$(winpath "$in")" "$(winpath "ours_$kind.jpg")" 200 150 75 "$runs" </dev/null 2>/dev/null | tr -d '\r')
    read -r vips_work vips vips_start < <(vips_work_ms "$in" "$tiny" "vips_$kind.jpg")
    magick=$(median_ms "$convert" "$in" -thumbnail '200x150!' -quality 75 -sampling-factor 2x2 "im_$kind.jpg")
    "$convert" "$in" -filter box -resize '200x150!' "reference_$kind.png"
    r=$(ratio "$ours" "$vips_work")
    met=$(awk -v r="$r" -v w="$vips_work" 'BEGIN {print (w <= 0) ? "not measurable: the load moved more than vips works" : (r <= 1.0) ? "met" : "NOT met"}')
    [ "$met" = met ] || status=1
    echo
    echo "== $in (4000x3000) -> 200x150, quality 75"
    echo "KestleImage in-process, the three calls: ${ours} ms (fastest ${ours_best} ms)"
    echo "vipsthumbnail less its start-up:         ${vips_work} ms (whole run ${vips} ms, start-up ${vips_start} ms)"
    echo "ImageMagick -thumbnail (whole run):      ${magick} ms"
    echo "ratio KestleImage/vipsthumbnail: $r (target at most 1.0: $met)"
    p_ours=$(psnr "ours_$kind.jpg" "reference_$kind.png")
    p_im=$(psnr "im_$kind.jpg" "reference_$kind.png")
    p_vips=$(psnr "vips_$kind.jpg" "reference_$kind.png")
    ok=$(awk -v a="$p_ours" -v b="$p_im" 'BEGIN {print (a >= b - 1) ? "met" : "NOT met"}')
    [ "$ok" = met ] || status=1
    echo "PSNR against the box-filtered reference: ours ${p_ours} dB, ImageMagick ${p_im} dB, vips ${p_vips} dB (ours within 1 dB of ImageMagick: $ok)"
done
exit $status
