#!/usr/bin/env bash
# Listing an NTFS volume of 200,000 files: Tarnwell's engine (bench/ntfs_bench,
# Standard scan plus a walk of the tree printing every path) against `fls -r -p`.
#   bench/ntfs-list.sh [BUILD_DIR] [FILES]
set -euo pipefail
build=${1:-build}
files=${2:-200000}
bench=$build/bench/ntfs_bench
[ -x "$bench" ] || { echo "build $bench first (ninja -C $build ntfs_bench)"; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
img=$work/ntfs-$files.img
echo "making $img ($files files) ..."
bash "$(dirname "$0")/make-ntfs-image.sh" "$img" "$files"

best() {  # best RUNS COMMAND... : the lowest wall time of RUNS runs, in seconds
    local runs=$1 t best=""
    shift
    for ((r = 0; r < runs; r++)); do
        /usr/bin/time -f %e -o "$work/time" "$@" >/dev/null 2>&1
        t=$(tail -1 "$work/time")
        if [ -z "$best" ] || awk "BEGIN { exit !($t < $best) }"; then best=$t; fi
    done
    echo "$best"
}
cat "$img" >/dev/null  # both sides start from a warm page cache
ours=$(best 3 "$bench" list "$img")
peer=$(best 3 fls -r -p "$img")
lines_ours=$("$bench" list "$img" 2>"$work/stats" | wc -l)
lines_peer=$(fls -r -p "$img" | wc -l)
echo "tarnwell list: ${ours}s ($lines_ours lines; $(cat "$work/stats"))"
echo "fls -r -p:     ${peer}s ($lines_peer lines)"
awk "BEGIN { printf \"speed-up: %.1fx\\n\", $peer / $ours }"
