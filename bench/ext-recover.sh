#!/usr/bin/env bash
# Recovers large contiguous files from an ext4 volume with the engine, against
# a plain sequential read of the image (`cat IMAGE > /dev/null`), warm cache,
# best of three runs. Two engine figures: the files extracted into a sink that
# keeps nothing (the read path alone), and saved as files into a folder in
# memory (/dev/shm when there is one), beside `cat IMAGE > FILE` there.
#
#   bench/ext-recover.sh [BUILD_DIR]     (default: build)
set -euo pipefail

build=${1:-build}
bench=$build/bench/ext_bench
[ -x "$bench" ] || { echo "build $bench first (ninja -C $build ext_bench)" >&2; exit 2; }
work=$(mktemp -d)
outroot=$work
[ -d /dev/shm ] && outroot=$(mktemp -d /dev/shm/tarnwell-bench.XXXXXX)
trap 'rm -rf "$work" "$outroot"' EXIT

mib=${MIB:-256}
src=$work/src
mkdir -p "$src"
for n in 1 2 3 4; do head -c $((mib * 1048576)) /dev/urandom >"$src/large-$n.bin"; done
img=$work/ext4.img
# Nearly full, so that the plain read is of data and not of holes.
truncate -s $((mib * 4 + mib / 4 + 48))M "$img"
mke2fs -q -F -t ext4 -d "$src" "$img"
rm -rf "$src"

best() {
    local b=
    for _ in 1 2 3; do
        rm -rf "$outroot/out"
        local s e
        s=$(date +%s.%N)
        "$@" >/dev/null 2>&1
        e=$(date +%s.%N)
        b=$(echo "$s $e ${b:-999}" | awk '{ t = $2 - $1; print (t < $3 ? t : $3) }')
    done
    echo "$b"
}

cat "$img" >/dev/null
plain=$(best cat "$img")
copy=$(best sh -c 'mkdir -p "$1" && cat "$2" > "$1/copy"' _ "$outroot/out" "$img")
readonly_=$(best "$bench" read "$img")
ours=$(best "$bench" recover "$img" "$outroot/out")
rm -rf "$outroot/out"
summary=$("$bench" recover "$img" "$outroot/out" 2>&1)
echo "${summary%%$'\n'*}"
size=$(stat -c %s "$img")
data=$((mib * 4 * 1048576))
awk -v p="$plain" -v c="$copy" -v r="$readonly_" -v o="$ours" -v s="$size" -v d="$data" 'BEGIN {
    printf "cat IMAGE > /dev/null         %6.3f s  %7.1f MiB/s (whole image, %d MiB)\n", p, s / p / 1048576, s / 1048576
    printf "tarnwell read (no output)     %6.3f s  %7.1f MiB/s (file data, %d MiB)  %.0f%% of cat\n", r, d / r / 1048576, d / 1048576, 100 * (d / r) / (s / p)
    printf "cat IMAGE > FILE (in memory)  %6.3f s  %7.1f MiB/s\n", c, s / c / 1048576
    printf "tarnwell recover (in memory)  %6.3f s  %7.1f MiB/s  %.0f%% of cat > FILE\n", o, d / o / 1048576, 100 * (d / o) / (s / c)
}'
