#!/usr/bin/env bash
# The sector search against a plain sequential read of the same image, both
# from the page cache: `tarnwell volumes IMG --advanced` vs `cat IMG >/dev/null`.
#
#   bench/advanced-scan.sh [TARNWELL] [GIB] [RUNS]
#
# The image (GIB GiB, default 4) is made in a temporary folder: the MBR test
# disk (its table zeroed, so the search has volumes to find) followed by
# pseudo-random data, which no boot-sector test takes for a volume.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
tarnwell=${1:-$here/build/tarnwell}
gib=${2:-4}
runs=${3:-5}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
img=$tmp/disk.img

xz -dc "$here/tests/images/mbr-mixed.img.xz" >"$img"
dd if=/dev/zero of="$img" bs=512 count=1 conv=notrunc status=none
head_mib=$(( $(stat -c %s "$img") / 1048576 ))
dd if=/dev/urandom of="$img" bs=1M seek="$head_mib" count=$((gib * 1024 - head_mib)) conv=notrunc status=none
bytes=$(stat -c %s "$img")
cat "$img" >/dev/null; cat "$img" >/dev/null  # into the page cache

seconds() {  # seconds COMMAND... : wall time of one run
    local t0 t1
    t0=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    t1=$(date +%s.%N)
    echo "$t1 - $t0" | bc -l
}
best() { sort -g | head -1; }

cat_times=() scan_times=()
for ((i = 0; i < runs; i++)); do  # alternate, so both see the same machine state
    cat_times+=("$(seconds cat "$img")")
    scan_times+=("$(seconds "$tarnwell" volumes "$img" --advanced)")
done
found=$("$tarnwell" volumes "$img" --advanced --json 2>/dev/null | wc -l)
cat_best=$(printf '%s\n' "${cat_times[@]}" | best)
scan_best=$(printf '%s\n' "${scan_times[@]}" | best)
mib=$(echo "$bytes / 1048576" | bc -l)

printf 'image: %d MiB in the page cache, %d runs each (best shown)\n' "$((bytes / 1048576))" "$runs"
printf 'cat IMG >/dev/null              %6.3f s  %7.0f MiB/s\n' "$cat_best" "$(echo "$mib / $cat_best" | bc -l)"
printf 'tarnwell volumes IMG --advanced %6.3f s  %7.0f MiB/s  (%d volumes found)\n' \
    "$scan_best" "$(echo "$mib / $scan_best" | bc -l)" "$found"
printf 'search speed / read speed: %.0f%%\n' "$(echo "100 * $cat_best / $scan_best" | bc -l)"
printf 'all runs, cat:  %s\n' "${cat_times[*]}"
printf 'all runs, scan: %s\n' "${scan_times[*]}"
