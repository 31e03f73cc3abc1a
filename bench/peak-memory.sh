#!/usr/bin/env bash
# Peak memory (maximum resident set, from /usr/bin/time -v) of `tarnwell list`
# and `tarnwell recover` on the largest committed test images, one line per
# image and command, in both recovery modes. The engine bounds every buffer
# sized by a disk field by the volume's size, so the peak should follow the
# number of rows, not what the volume claims to hold.
#
#   bench/peak-memory.sh [TARNWELL] [N_IMAGES=6]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tarnwell=$(realpath "${1:-$here/../build/tarnwell}")
count=${2:-6}
images=$here/../tests/images
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian package time)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The largest images by unpacked size, and the largest NTFS and HFS+ ones
# (the file systems with a deep mode).
by_size() {
    for f in "$@"; do printf '%s %s\n' "$(xz -l --robot "$f" | awk '/^totals/ {print $5}')" "$f"; done | sort -rn | awk '{print $2}'
}
mapfile -t largest < <({ by_size "$images"/*.img.xz | head -n "$count"; by_size "$images"/ntfs-*.img.xz | head -n 1
    by_size "$images"/hfs*.img.xz | head -n 1; } | awk '!seen[$0]++')

# peak LABEL WHAT CMD...: the run's maximum RSS in MiB, wall time and exit status.
peak() {
    local label=$1 what=$2 rc=0
    shift 2
    /usr/bin/time -v -o "$work/time" "$@" >/dev/null 2>&1 || rc=$?
    [ "$rc" -eq 2 ] && return 0  # the mode does not apply to this file system
    local kb wall
    kb=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time")
    wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$work/time")
    printf '%-34s %-16s %8.1f MiB  %10s  exit %d\n' "$label" "$what" "$(awk -v k="$kb" 'BEGIN {print k / 1024}')" "$wall" "$rc"
}

printf '%-34s %-16s %12s  %10s\n' image command "peak RSS" wall
for packed in "${largest[@]}"; do
    name=$(basename "$packed" .img.xz)
    raw=$work/$name.img
    xz -dc "$packed" >"$raw"
    size=$(( $(stat -c %s "$raw") / 1048576 ))
    volume=()
    [ -f "$images/$name.mmls" ] && volume=(--volume 1)  # a partitioned disk: its first volume
    for mode in standard deep; do
        peak "$name (${size} MiB)" "list $mode" "$tarnwell" list "$raw" "${volume[@]}" --mode "$mode"
        rm -rf "$work/out"
        peak "$name (${size} MiB)" "recover $mode" "$tarnwell" recover "$raw" "${volume[@]}" --mode "$mode" --out "$work/out"
    done
    rm -f "$raw"
    rm -rf "$work/out"
done
