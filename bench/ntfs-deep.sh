#!/usr/bin/env bash
# The Deep scan (every 512-byte slot of the volume tested for a file record)
# against a plain sequential read of the same image with cat.
#   bench/ntfs-deep.sh [BUILD_DIR] [FILES]
set -euo pipefail
build=${1:-build}
files=${2:-200000}
bench=$build/bench/ntfs_bench
[ -x "$bench" ] || { echo "build $bench first (ninja -C $build ntfs_bench)"; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
img=$work/ntfs-$files.img
echo "making $img ($files files) ..."
bash "$(dirname "$0")/make-ntfs-image.sh" "$img.sparse" "$files"
# Every byte on disk, so that neither side reads holes.
cp --sparse=never "$img.sparse" "$img" && rm "$img.sparse"
size=$(stat -c %s "$img")

best() {
    local runs=$1 t best=""
    shift
    for ((r = 0; r < runs; r++)); do
        /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" >/dev/null 2>&1
        read -r t u s <"$work/time"
        if [ -z "$best" ] || awk "BEGIN { exit !($t < ${best%% *}) }"; then best="$t $(awk "BEGIN { print $u + $s }")"; fi
    done
    echo "$best"
}
cat "$img" >/dev/null
read -r catTime catCpu < <(best 5 cat "$img")
read -r deepTime deepCpu < <(best 5 "$bench" deep "$img")
found=$("$bench" deep "$img" 2>/dev/null)
mib=$((size >> 20))
awk -v m="$mib" -v c="$catTime" -v d="$deepTime" -v f="$found" -v cc="$catCpu" -v dc="$deepCpu" 'BEGIN {
    printf "image: %d MiB, page cache warm\n", m
    printf "cat:       %.2fs wall (%.0f MiB/s), %.2fs CPU\n", c, m / c, cc
    printf "deep scan: %.2fs wall (%.0f MiB/s), %.2fs CPU, %d entries in the tree\n", d, m / d, dc, f
    printf "deep / cat speed: %.0f%% by wall time\n", 100 * c / d }'
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
