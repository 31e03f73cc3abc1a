#!/usr/bin/env bash
# `tarnwell recover` of large contiguous files against a plain sequential read
# of the image (`cat IMAGE > /dev/null`): a 1.1 GB FAT32 image with 4 KiB
# clusters holding four 256 MiB files, made at run time with mkfs.fat and
# mcopy. Everything reads from the page cache. The output goes to /dev/shm when
# there is one (so that the disk's write speed does not count), and once more
# to a folder on disk. The goal is at least 80 % of cat's speed. Writing the
# output costs as much again as reading the image, so the script also times a
# plain copy of the image to the same place (`cat IMAGE > FILE`), the same work
# without any file system in between.
#
#   bench/fat-recover.sh [TARNWELL]      (RUNS=3 by default)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
tarnwell=$(realpath "${1:-$here/../build/tarnwell}")
runs=${RUNS:-3}
work=$(mktemp -d)
shm=""
[ -d /dev/shm ] && [ -w /dev/shm ] && shm=$(mktemp -d /dev/shm/tarnwell-bench.XXXXXX)
trap 'rm -rf "$work" ${shm:+"$shm"}' EXIT
export MTOOLS_SKIP_CHECK=1

img=$work/big.img
truncate -s 1100M "$img"
mkfs.fat -F 32 -s 8 -n BIGFILES "$img" >/dev/null
for n in 1 2 3 4; do
    head -c 256M /dev/urandom >"$work/f$n"
    mcopy -i "$img" "$work/f$n" "::video$n.mp4"
    rm "$work/f$n"
done
cat "$img" >/dev/null  # into the page cache

bytes=$(stat -c %s "$img")
payload=$((4 * 256 * 1048576))
recover_into() {  # recover_into DIR
    rm -rf "$1/out"
    "$tarnwell" recover "$img" --out "$1/out"
}
copy_into() {  # copy_into DIR
    rm -f "$1/copy.img"
    cat "$img" >"$1/copy.img"
}
place=${shm:-$work}
t_cat=$(best_of "$runs" sh -c "cat '$img' >/dev/null")
t_copy=$(best_of "$runs" copy_into "$place")
rm -f "$place/copy.img"
t_rec=$(best_of "$runs" recover_into "$place")
t_disk=$(best_of "$runs" recover_into "$work")
rate() { awk -v b="$1" -v t="$2" 'BEGIN { printf "%.0f", b / t / 1048576 }'; }
echo "image: $((bytes / 1048576)) MiB, four contiguous files of 256 MiB; output to $place"
printf '%-36s %7s s %6s MiB/s\n' "cat IMAGE > /dev/null" "$t_cat" "$(rate "$bytes" "$t_cat")" \
    "cat IMAGE > FILE" "$t_copy" "$(rate "$bytes" "$t_copy")" \
    "tarnwell recover" "$t_rec" "$(rate "$payload" "$t_rec")" \
    "tarnwell recover (output on disk)" "$t_disk" "$(rate "$payload" "$t_disk")"
ratio() { awk -v a="$1" -v ta="$2" -v b="$3" -v tb="$4" 'BEGIN { printf "%.0f", 100 * (a / ta) / (b / tb) }'; }
echo "recover runs at $(ratio "$payload" "$t_rec" "$bytes" "$t_cat") % of the speed of cat IMAGE > /dev/null," \
    "$(ratio "$payload" "$t_rec" "$bytes" "$t_copy") % of the speed of cat IMAGE > FILE"
