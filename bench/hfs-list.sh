#!/usr/bin/env bash
# Lists an HFS+ volume of 200,000 files with Tarnwell's parser and with
# The Sleuth Kit's `fls -r -p`, side by side. The volume is made here by
# xorriso (empty files, 20 folders of 10,000) in a temporary folder.
#
#   bench/hfs-list.sh [BUILD_DIR] [RUNS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build}
runs=${2:-3}
bin=$build/bench/hfs-list
[ -x "$bin" ] || { echo "build $bin first (ninja -C $build hfs-list)"; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work/src" <<'PY'
import os, sys
for d in range(20):
    p = os.path.join(sys.argv[1], "dir%02d" % d)
    os.makedirs(p)
    for i in range(10000):
        open(os.path.join(p, "file%05d.txt" % i), "w").close()
PY
xorriso -as mkisofs -quiet -hfsplus -o "$work/disk.iso" "$work/src" >/dev/null 2>&1
python3 "$here/../tests/images/hfsplus-gen.py" cut-apm "$work/disk.iso" "$work/hfs.img"
rm -rf "$work/src" "$work/disk.iso"
echo "image: $(du -h "$work/hfs.img" | cut -f1), $(fls -r -p "$work/hfs.img" | wc -l) fls lines"
cat "$work/hfs.img" >/dev/null
for run in $(seq 1 "$runs"); do
    t0=$(date +%s.%N); fls -r -p "$work/hfs.img" >"$work/fls.out"; t1=$(date +%s.%N)
    "$bin" "$work/hfs.img" standard >"$work/ours.out" 2>/dev/null; t2=$(date +%s.%N)
    printf 'run %d: fls -r -p %.2f s (%d lines)   tarnwell %.2f s (%d lines)\n' "$run" \
        "$(echo "$t1 - $t0" | bc)" "$(wc -l <"$work/fls.out")" "$(echo "$t2 - $t1" | bc)" "$(wc -l <"$work/ours.out")"
done
