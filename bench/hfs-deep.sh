#!/usr/bin/env bash
# The Deep node scan and the extraction of large contiguous files against a
# plain sequential read of the same HFS+ image (600 MiB, two files, made here
# by xorriso in a temporary folder). Output goes below OUT_DIR (default: the
# temporary folder; /dev/shm keeps disk write-back out of the figures).
#
#   [OUT_DIR=/dev/shm] bench/hfs-deep.sh [BUILD_DIR] [RUNS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build}
runs=${2:-3}
bin=$build/bench/hfs-list
[ -x "$bin" ] || { echo "build $bin first (ninja -C $build hfs-list)"; exit 2; }
work=$(mktemp -d)
out=$(mktemp -d "${OUT_DIR:-$work}/hfs-bench.XXXXXX")
trap 'rm -rf "$work" "$out"' EXIT

mkdir -p "$work/src"
head -c 400M /dev/urandom >"$work/src/one.bin"
head -c 200M /dev/urandom >"$work/src/two.bin"
xorriso -as mkisofs -quiet -hfsplus -o "$work/disk.iso" "$work/src" >/dev/null 2>&1
python3 "$here/../tests/images/hfsplus-gen.py" cut-apm "$work/disk.iso" "$work/hfs.img"
rm -rf "$work/src" "$work/disk.iso"
echo "image: $(du -h "$work/hfs.img" | cut -f1)"
seconds() { local t0 t1; t0=$(date +%s.%N); "$@" >/dev/null 2>&1; t1=$(date +%s.%N); echo "$t1 - $t0" | bc; }
cat "$work/hfs.img" >/dev/null
for run in $(seq 1 "$runs"); do
    rm -rf "$out/out" "$out/copy"
    sync
    c=$(seconds cat "$work/hfs.img")
    d=$(seconds "$bin" "$work/hfs.img" deep)
    # Writes are timed from a clean page cache, so that the one does not pay
    # for the other's write-back.
    sync; w=$(seconds sh -c "cat '$work/hfs.img' > '$out/copy'")
    sync; e=$(seconds "$bin" "$work/hfs.img" extract "$out/out")
    printf 'run %d: cat %.2f s, deep scan %.2f s (%.0f%%)   cat > file %.2f s, extract %.2f s (%.0f%%)\n' "$run" \
        "$c" "$d" "$(echo "100 * $c / $d" | bc -l)" "$w" "$e" "$(echo "100 * $w / $e" | bc -l)"
done
