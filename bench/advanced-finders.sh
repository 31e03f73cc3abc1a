#!/usr/bin/env bash
# The advanced mode's table finders against a sequential read and against
# sigfind (The Sleuth Kit) looking for the same FAT32 table signature, all from
# the page cache, alternating runs:
#   `tarnwell candidates IMG --start 0 --fs fat32` vs `cat IMG >/dev/null`
#   vs `sigfind -b 512 F8FFFF0F IMG`.
#
#   bench/advanced-finders.sh [TARNWELL] [MIB] [RUNS]
#
# The image (MIB MiB, default 1024): the FAT32 test card with both boot sectors
# zeroed (a lost FAT32), then pseudo-random data, so the finder reads it whole.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
tarnwell=${1:-$here/build/tarnwell}
mib=${2:-1024}
runs=${3:-5}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
img=$tmp/lost-fat32.img

xz -dc "$here/tests/images/fat32-card.img.xz" >"$img"
dd if=/dev/zero of="$img" bs=512 count=1 conv=notrunc status=none
dd if=/dev/zero of="$img" bs=512 seek=6 count=1 conv=notrunc status=none
head_mib=$(( $(stat -c %s "$img") / 1048576 + 1 ))
dd if=/dev/urandom of="$img" bs=1M seek="$head_mib" count=$((mib - head_mib)) conv=notrunc status=none
bytes=$(stat -c %s "$img")
cat "$img" >/dev/null; cat "$img" >/dev/null

seconds() {
    local t0 t1
    t0=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || true
    t1=$(date +%s.%N)
    echo "$t1 - $t0" | bc -l
}
best() { sort -g | head -1; }

have_sigfind=0
command -v sigfind >/dev/null && have_sigfind=1
cat_t=() find_t=() sig_t=()
for ((i = 0; i < runs; i++)); do
    cat_t+=("$(seconds cat "$img")")
    find_t+=("$(seconds "$tarnwell" candidates "$img" --start 0 --fs fat32)")
    if ((have_sigfind)); then sig_t+=("$(seconds sigfind -b 512 F8FFFF0F "$img")"); fi
done
mibs=$(echo "$bytes / 1048576" | bc -l)
cb=$(printf '%s\n' "${cat_t[@]}" | best)
fb=$(printf '%s\n' "${find_t[@]}" | best)
printf 'image: %d MiB in the page cache, %d runs each (best shown)\n' "$((bytes / 1048576))" "$runs"
printf 'cat IMG >/dev/null        %6.3f s  %7.0f MiB/s\n' "$cb" "$(echo "$mibs / $cb" | bc -l)"
printf 'tarnwell candidates       %6.3f s  %7.0f MiB/s  (%s)\n' "$fb" "$(echo "$mibs / $fb" | bc -l)" \
    "$("$tarnwell" candidates "$img" --start 0 --fs fat32 2>/dev/null | grep -c FAT32_ENTRY) tables"
if ((have_sigfind)); then
    sb=$(printf '%s\n' "${sig_t[@]}" | best)
    printf 'sigfind -b 512 F8FFFF0F   %6.3f s  %7.0f MiB/s  (%s hits)\n' "$sb" "$(echo "$mibs / $sb" | bc -l)" \
        "$(sigfind -b 512 F8FFFF0F "$img" 2>/dev/null | grep -c 'Block:')"
fi
printf 'finder speed / read speed: %.0f%%\n' "$(echo "100 * $cb / $fb" | bc -l)"
