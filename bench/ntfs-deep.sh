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
        /usr/bin/time -f %e -o "$work/time" "$@" >/dev/null 2>&1
        t=$(tail -1 "$work/time")
        if [ -z "$best" ] || awk "BEGIN { exit !($t < $best) }"; then best=$t; fi
    done
    echo "$best"
}
cat "$img" >/dev/null
catTime=$(best 3 cat "$img")
deepTime=$(best 3 "$bench" deep "$img")
found=$("$bench" deep "$img" 2>/dev/null)
mib=$((size >> 20))
awk -v m="$mib" -v c="$catTime" -v d="$deepTime" -v f="$found" 'BEGIN {
    printf "image: %d MiB\n", m
    printf "cat:       %.2fs (%.0f MiB/s)\n", c, m / c
    printf "deep scan: %.2fs (%.0f MiB/s), %d entries in the tree\n", d, m / d, f
    printf "deep / cat speed: %.0f%%\n", 100 * c / d }'
