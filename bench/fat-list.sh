#!/usr/bin/env bash
# `tarnwell list` against The Sleuth Kit's `fls -r` on a FAT32 image with
# 100,000 files, made at run time in a temporary folder (mkfs.fat, then
# make-fat32-tree.py, which writes the folders directly: mtools needs minutes
# for ten thousand files). Both read the same image from the page cache; the
# best of RUNS runs counts.
#
#   bench/fat-list.sh [TARNWELL]      (FILES=100000 RUNS=5 by default)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
tarnwell=$(realpath "${1:-$here/../build/tarnwell}")
files=${FILES:-100000}
runs=${RUNS:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

img=$work/tree.img
# One 512-byte cluster per file, three slots per entry, and at least the
# 65,525 clusters that make a FAT32 volume.
size=$((files * 800 + 8 * 1048576))
[ "$size" -ge $((40 * 1048576)) ] || size=$((40 * 1048576))
truncate -s "$size" "$img"
mkfs.fat -F 32 -s 1 -n BENCH "$img" >/dev/null
python3 "$here/make-fat32-tree.py" "$img" "$files" 1000
fsck.fat -n "$img" >/dev/null
cat "$img" >/dev/null  # into the page cache

ours=$("$tarnwell" list "$img" 2>/dev/null | grep -c '^-' || true)
theirs=$(fls -r "$img" | grep 'r/r ' | grep -vc 'Volume Label Entry' || true)
echo "image: $(du -h --apparent-size "$img" | cut -f1), $files files in $((files / 1000)) folders"
echo "files listed: tarnwell $ours, fls $theirs"
t_fls=$(best_of "$runs" fls -r "$img")
t_list=$(best_of "$runs" "$tarnwell" list "$img")
t_json=$(best_of "$runs" "$tarnwell" list "$img" --json)
printf '%-28s %8s s\n' "fls -r" "$t_fls" "tarnwell list" "$t_list" "tarnwell list --json" "$t_json"
awk -v a="$t_fls" -v b="$t_list" 'BEGIN { printf "tarnwell list is %.1fx as fast as fls -r\n", a / b }'
