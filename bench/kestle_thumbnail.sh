#!/bin/bash
# KestleImage making a 200x150 thumbnail at quality 75 (LoadImage, Iconize,
# SaveImage) of a 4000x3000 JPEG and of the same picture as PNG, beside
# vipsthumbnail and ImageMagick's convert -thumbnail on the same files in the
# same run. Every figure is a whole process, median of RUNS runs; ours runs
# under Wine, whose process start-up is printed on its own.
# Quality: PSNR of each thumbnail against a box-filtered reference. All three
# write 4:2:0 JPEG at quality 75 (ImageMagick is told so: from a JPEG source
# of quality 90 or more it would otherwise keep 4:4:4 chroma, and the PSNR
# would measure chroma sampling rather than scaling).
# Usage: bench/kestle_thumbnail.sh BUILD_DIR   (RUNS=5 by default)
set -euo pipefail
build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-5}
. "$here/scripts/lib.sh"
ensure_packages libvips-tools imagemagick >/dev/null
. "$here/scripts/wine-env.sh" "$build"
[ -x "$build/bin/kestle_bench.exe" ] || { echo "build $build first (kestle_bench.exe missing)"; exit 1; }
work="$build/bench-kestle"
mkdir -p "$work"
cd "$work"
convert=/usr/bin/convert
compare=/usr/bin/compare

# A photo-like picture: plasma with a light blur, made once and kept.
if [ ! -s photo.jpg ] || [ ! -s photo.png ]; then
    echo "making the 4000x3000 test pictures..."
    "$convert" -seed 42 -size 4000x3000 plasma:fractal -blur 0x1 -quality 92 photo.jpg
    "$convert" photo.jpg photo.png
fi
wineserver -p </dev/null >/dev/null 2>&1 || true
wine "$build/bin/kestle_bench.exe" noop </dev/null >/dev/null 2>&1 || true  # warm the prefix

# median_seconds CMD...: runs the command $runs times, prints the median wall time.
median_seconds() {
    local times=()
    for _ in $(seq "$runs"); do
        local start end
        start=$(date +%s%N)
        "$@" </dev/null >/dev/null 2>&1 || { echo "failed: $*" >&2; return 1; }
        end=$(date +%s%N)
        times+=($(( (end - start) / 1000 )))
    done
    printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.3f", a[int((NR+1)/2)]/1e6}'
}
# compare exits 1 whenever the pictures differ, which they always do here.
psnr() { { "$compare" -metric PSNR "$1" "$2" null: 2>&1 || true; } | awk '{print $1}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

startup=$(median_seconds wine "$build/bin/kestle_bench.exe" noop)
echo "Wine process start-up alone: ${startup} s"
"$convert" photo.png -filter box -resize '200x150!' reference.png
status=0
for kind in jpg png; do
    in=photo.$kind
    ours=$(median_seconds wine "$build/bin/kestle_bench.exe" thumb "$(winpath "$in")" "$(winpath ours_$kind.jpg)" 200 150 75)
    vips=$(median_seconds vipsthumbnail "$in" -s '200x150!' -o "vips_$kind.jpg[Q=75]")
    magick=$(median_seconds "$convert" "$in" -thumbnail '200x150!' -quality 75 -sampling-factor 2x2 "im_$kind.jpg")
    steps=$(wine "$build/bin/kestle_bench.exe" thumb "$(winpath "$in")" "$(winpath ours_$kind.jpg)" 200 150 75 </dev/null 2>/dev/null | tr -d '\r')
    target=$([ $kind = jpg ] && echo 2.5 || echo 1.0)
    r=$(ratio "$ours" "$vips")
    met=$(awk -v r="$r" -v t="$target" 'BEGIN {print (r <= t) ? "met" : "NOT met"}')
    [ "$met" = met ] || status=1
    echo
    echo "== ${kind^^} 4000x3000 -> 200x150, quality 75"
    echo "KestleImage (whole process): ${ours} s   [$steps]"
    echo "vipsthumbnail:               ${vips} s"
    echo "ImageMagick -thumbnail:      ${magick} s"
    echo "ratio KestleImage/vipsthumbnail: $r (target at most $target: $met)"
    echo "ratio KestleImage/ImageMagick:   $(ratio "$ours" "$magick")"
    p_ours=$(psnr "ours_$kind.jpg" reference.png)
    p_im=$(psnr "im_$kind.jpg" reference.png)
    p_vips=$(psnr "vips_$kind.jpg" reference.png)
    ok=$(awk -v a="$p_ours" -v b="$p_im" 'BEGIN {print (a >= b - 1) ? "met" : "NOT met"}')
    [ "$ok" = met ] || status=1
    echo "PSNR against the box-filtered reference: ours ${p_ours} dB, ImageMagick ${p_im} dB, vips ${p_vips} dB (ours within 1 dB of ImageMagick: $ok)"
done
exit $status
