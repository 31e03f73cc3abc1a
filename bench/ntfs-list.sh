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

best() {  # best RUNS COMMAND... : "WALL CPU" seconds of the fastest of RUNS runs
    local runs=$1 t best=""
    shift
    for ((r = 0; r < runs; r++)); do
        /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" >/dev/null 2>&1
        read -r t u s <"$work/time"
        if [ -z "$best" ] || awk "BEGIN { exit !($t < ${best%% *}) }"; then best="$t $(awk "BEGIN { print $u + $s }")"; fi
    done
    echo "$best"
}
cat "$img" >/dev/null  # both sides start from a warm page cache
read -r ours oursCpu < <(best 5 "$bench" list "$img")
read -r peer peerCpu < <(best 5 fls -r -p "$img")
lines_ours=$("$bench" list "$img" 2>"$work/stats" | wc -l)
lines_peer=$(fls -r -p "$img" | wc -l)
echo "tarnwell list: ${ours}s wall, ${oursCpu}s CPU ($lines_ours lines; $(cat "$work/stats"))"
echo "fls -r -p:     ${peer}s wall, ${peerCpu}s CPU ($lines_peer lines)"
awk "BEGIN { printf \"speed-up: %.1fx wall, %.1fx CPU\\n\", $peer / $ours, $peerCpu / $oursCpu }"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
