#!/usr/bin/env bash
# Lists an ext4 volume of 200,000 files with the engine and with The Sleuth
# Kit's `fls -r`, best of three runs each (warm cache).
#
#   bench/ext-list.sh [BUILD_DIR]     (default: build)
set -euo pipefail

build=${1:-build}
bench=$build/bench/ext_bench
[ -x "$bench" ] || { echo "build $bench first (ninja -C $build ext_bench)" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

files=${FILES:-200000}
per=1000
src=$work/src
echo "making $files files in $((files / per)) folders..."
for ((d = 0; d < files / per; d++)); do
    mkdir -p "$src/folder-$d"
    (cd "$src/folder-$d" && seq -f "file-%06g.txt" 1 "$per" | xargs touch)
done
img=$work/ext4.img
truncate -s 2G "$img"
mke2fs -q -F -t ext4 -N $((files + 20000)) -d "$src" "$img"
rm -rf "$src"

best() {  # best COMMAND... : the fastest of three runs, in seconds
    local b=
    for _ in 1 2 3; do
        local s e
        s=$(date +%s.%N)
        "$@" >/dev/null 2>&1
        e=$(date +%s.%N)
        b=$(echo "$s $e ${b:-999}" | awk '{ t = $2 - $1; print (t < $3 ? t : $3) }')
    done
    echo "$b"
}

cat "$img" >/dev/null
ours=$(best "$bench" list "$img")
peer=$(best fls -r "$img")
rows=$("$bench" list "$img" 2>/dev/null | wc -l)
flsrows=$(fls -r "$img" | wc -l)
printf 'entries listed: tarnwell %s, fls %s\n' "$rows" "$flsrows"
printf 'tarnwell list  %6.3f s\nfls -r         %6.3f s\n' "$ours" "$peer"
if [ -x /usr/bin/time ]; then
    /usr/bin/time -o "$work/ours.mem" -f %M "$bench" list "$img" >/dev/null 2>&1
    /usr/bin/time -o "$work/fls.mem" -f %M fls -r "$img" >/dev/null 2>&1
    printf 'peak memory: tarnwell %s KiB, fls %s KiB\n' "$(tail -1 "$work/ours.mem")" "$(tail -1 "$work/fls.mem")"
fi
