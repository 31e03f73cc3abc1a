#!/usr/bin/env bash
# Makes Tarnwell's test images with the real tools (mkfs.fat and mtools,
# sfdisk, sgdisk, xorriso; hfsplus-gen.py for what no tool makes) and records
# The Sleuth Kit's view of each (mmls, fls -r -p).
# The images are committed xz-compressed beside this script; tests unpack them,
# so running the tests needs no mounts and none of these tools.
#
#   tests/images/make-images.sh [NAME...]   (no names: every image)
#
# Each image is made by one function, image_NAME. Later file systems add theirs.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1 TZ=UTC

# Files made here get fixed times so that images are the same on every run.
stamp() { touch -d "$1" "$2"; }

# A small real JPEG (a plasma picture): deterministic for a given seed.
photo() {  # photo SEED FILE
    convert -seed "$1" -size 320x240 plasma:fractal -quality 85 "$2"
}

# Content that is not all alike (every line differs) yet packs small.
pattern() {  # pattern BYTES SEED
    seq "$2" 7 999999999 | head -c "$1"
}

# mkfs.fat into part of an image file (no loop device needed).
fat_at() {  # fat_at IMAGE START_SECTOR SECTORS FAT_BITS LABEL [extra mkfs options]
    local img=$1 start=$2 sectors=$3 bits=$4 label=$5
    shift 5
    mkfs.fat --invariant --offset="$start" -F "$bits" -n "$label" "$@" "$img" $((sectors / 2)) >/dev/null
}

finish() {  # finish NAME IMAGE [FLS_OFFSET...] : compress and record the reference views
    local name=$1 img=$2
    shift 2
    xz -9 -T1 -c "$img" >"$here/$name.img.xz"
    mmls "$img" >"$here/$name.mmls" 2>/dev/null || rm -f "$here/$name.mmls"
    local offsets=("$@")
    [ ${#offsets[@]} -gt 0 ] || offsets=(0)
    : >"$here/$name.fls"
    for off in "${offsets[@]}"; do
        echo "# offset $off" >>"$here/$name.fls"
        fls -r -p -o "$off" "$img" >>"$here/$name.fls" 2>&1 || true
    done
    echo "made $name ($(du -h "$here/$name.img.xz" | cut -f1) packed)"
}

# The bundled sample: a 64 MiB FAT32 camera card with photos, two of them deleted.
image_sample_card() {
    local img=$work/sample-card.img src=$work/sample-src
    truncate -s 64M "$img"
    fat_at "$img" 0 131072 32 CANON_DC -s 1 -i 1A2B3C4D
    mkdir -p "$src"
    mmd -i "$img" ::DCIM ::DCIM/100CANON ::MISC
    for n in 1 2 3 4 5 6 7 8; do
        local f=$src/IMG_000$n.JPG
        photo "$n" "$f"
        stamp "2024-06-0$n 1$n:0$n:00" "$f"
        mcopy -m -i "$img" "$f" ::DCIM/100CANON/
    done
    printf 'Holiday card, June 2024.\n' >"$src/notes.txt"
    stamp "2024-06-09 09:30:00" "$src/notes.txt"
    mcopy -m -i "$img" "$src/notes.txt" ::MISC/
    mdel -i "$img" ::DCIM/100CANON/IMG_0003.JPG ::DCIM/100CANON/IMG_0006.JPG
    finish sample-card "$img"
}

# An MBR disk with a FAT16 and a FAT32 partition, made by sfdisk.
image_mbr_fat() {
    local img=$work/mbr-fat.img
    truncate -s 120M "$img"
    printf 'label: dos\nstart=2048, size=40960, type=6\nstart=43008, size=200704, type=c\n' |
        sfdisk -q "$img"
    fat_at "$img" 2048 40960 16 PART_ONE
    fat_at "$img" 43008 200704 32 PART_TWO -s 1
    printf 'first\n' >"$work/one.txt"; stamp "2023-01-02 03:04:05" "$work/one.txt"
    printf 'second\n' >"$work/two.txt"; stamp "2023-05-06 07:08:09" "$work/two.txt"
    mcopy -m -i "$img@@$((2048 * 512))" "$work/one.txt" ::
    mcopy -m -i "$img@@$((43008 * 512))" "$work/two.txt" ::
    finish mbr-fat "$img" 2048 43008
}

# A GPT disk with one FAT32 basic-data partition, made by sgdisk.
image_gpt_fat() {
    local img=$work/gpt-fat.img
    truncate -s 80M "$img"
    sgdisk -q -U 11111111-2222-3333-4444-555555555555 \
        -n 1:2048:+70M -t 1:0700 -c 1:"Basic data partition" -u 1:AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE "$img"
    fat_at "$img" 2048 143360 32 GPT_FAT -s 1
    printf 'gpt\n' >"$work/gpt.txt"; stamp "2022-02-03 04:05:06" "$work/gpt.txt"
    mcopy -m -i "$img@@$((2048 * 512))" "$work/gpt.txt" ::
    finish gpt-fat "$img" 2048
}

# mkfs.exfat, populated through exfat-fuse on a loop device (FUSE wants a block device).
with_exfat_mount() {  # with_exfat_mount IMAGE FUNCTION
    local img=$1 fn=$2 mnt=$work/mnt-exfat loop
    mkdir -p "$mnt"
    loop=$(losetup -f --show "$img")
    mount.exfat-fuse "$loop" "$mnt" >/dev/null
    "$fn" "$mnt" || true
    umount "$mnt"
    losetup -d "$loop"
}

fill_exfat_4k() {
    local m=$1 i
    for i in $(seq -w 1 60); do printf 'root file %s\n' "$i" >"$m/root_$i.txt"; done
    mkdir -p "$m/many" "$m/deep/a/b/c" "$m/gone/sub"
    for i in $(seq -w 1 1000); do printf '%s\n' "$i" >"$m/many/f$i.dat"; done
    printf 'deep\n' >"$m/deep/a/b/c/leaf.txt"
    printf 'long name\n' >"$m/$(printf 'L%.0s' $(seq 1 251)).txt"
    printf 'gruss\n' >"$m/Grüße.txt"
    printf 'nihongo\n' >"$m/日本語.txt"
    pattern 40960 1 >"$m/f1.bin"
    touch -d "2024-06-01 11:01:00" "$m/f1.bin"
    pattern 40960 2 >"$m/f2.bin"
    pattern 40960 3 >"$m/f3.bin"
    rm "$m/f2.bin"
    pattern 204800 4 >"$m/frag.bin"   # cannot be contiguous: it must take f2's hole
    pattern 300000 5 >"$m/contig.bin"
    printf 'short\n' >"$m/sparse.txt"
    truncate -s 100000 "$m/sparse.txt"          # size beyond the data written
    pattern 10000 6 >"$m/gone/inner.bin"
    printf 'sub\n' >"$m/gone/sub/s.txt"
    pattern 30000 7 >"$m/deleted.bin"
    rm "$m/deleted.bin"
    rm -r "$m/gone"
    rm "$m/root_05.txt"
}

# exFAT with 4 KiB clusters: a root of several clusters, a folder of 1,000
# files, long and non-ASCII names, contiguous and chained files, deleted files
# and a deleted folder.
image_exfat_4k() {
    local img=$work/exfat-4k.img
    truncate -s 32M "$img"
    mkfs.exfat -c 4K -L EXFAT4K "$img" >/dev/null
    with_exfat_mount "$img" fill_exfat_4k
    finish exfat-4k "$img"
}

fill_exfat_128k() {
    local m=$1
    mkdir -p "$m/photos"
    photo 21 "$m/photos/one.jpg"
    photo 22 "$m/photos/two.jpg"
    pattern 500000 8 >"$m/big.bin"
    printf 'bye\n' >"$m/photos/removed.txt"
    rm "$m/photos/removed.txt"
}

# exFAT with 128 KiB clusters.
image_exfat_128k() {
    local img=$work/exfat-128k.img
    truncate -s 24M "$img"
    mkfs.exfat -c 128K -L EXFAT128 "$img" >/dev/null
    with_exfat_mount "$img" fill_exfat_128k
    finish exfat-128k "$img"
}

# HFS+ by xorriso (Debian has no mkfs for it): the hybrid disk's Apple_HFS
# partition, cut out by its APM entry.
xorriso_hfs() {  # xorriso_hfs NAME SOURCE_FOLDER BLOCK_SIZE
    local name=$1 src=$2 bs=$3 iso=$work/$1.iso img=$work/$1.img
    # Files not stamped already get a fixed time, the volume a fixed date.
    find "$src" -newermt "2025-01-01" -exec touch -h -d "2024-05-01 08:00:00" {} +
    SOURCE_DATE_EPOCH=1714550400 xorriso -as mkisofs -quiet -hfsplus -hfsplus-block-size "$bs" -V TARNWELL -o "$iso" "$src" >/dev/null 2>&1
    python3 "$here/hfsplus-gen.py" cut-apm "$iso" "$img"
    finish "$name" "$img"
}

# Folders twelve deep, non-ASCII names (decomposed by HFS+, a surrogate pair),
# files of many sizes; 512-byte blocks.
image_hfsplus_x512() {
    local src=$work/hfs512 d i
    d=$src/deep
    for i in $(seq 1 12); do d=$d/level$i; done
    mkdir -p "$d" "$src/names" "$src/sizes"
    printf 'at the bottom\n' >"$d/leaf.txt"
    printf 'gruss\n' >"$src/names/Grüße.txt"
    printf 'nihongo\n' >"$src/names/日本語.txt"
    printf 'smile\n' >"$src/names/smile-😀.txt"
    printf 'accent\n' >"$src/names/café.txt"
    for i in 1 511 512 513 4096 70000 300000; do pattern "$i" "$i" >"$src/sizes/s$i.bin" || true; done
    : >"$src/sizes/empty.bin"
    stamp "2024-06-01 11:01:00" "$src/sizes/s4096.bin"
    xorriso_hfs hfsplus-x512 "$src" 512
}

# 20,000 files in one folder (a catalog of several index levels); 2,048-byte
# blocks, where the catalog starts at block 1 and a node is two blocks.
image_hfsplus_x2k() {
    local src=$work/hfs2k i
    mkdir -p "$src/many" "$src/a/b/c"
    (cd "$src/many" && for i in $(seq -w 1 20000); do printf '%s\n' "$i" >"f$i.txt"; done)
    printf 'deep\n' >"$src/a/b/c/leaf.txt"
    printf 'gruss\n' >"$src/Grüße.txt"
    pattern 100000 9 >"$src/big.bin" || true
    stamp "2023-03-04 05:06:07" "$src/big.bin"
    xorriso_hfs hfsplus-x2k "$src" 2048
}

# The cases no tool makes, written by hfsplus-gen.py from TN1150: overflow
# extents, a catalog in two extents, zlib-compressed files, a hard link, a
# resource fork, a stale leaf in a free node; HFSX with names differing in case.
image_hfsplus_gen() {
    python3 "$here/hfsplus-gen.py" build "$work/hfsplus-gen.img"
    finish hfsplus-gen "$work/hfsplus-gen.img"
}
image_hfsx_gen() {
    python3 "$here/hfsplus-gen.py" build "$work/hfsx-gen.img" --hfsx
    finish hfsx-gen "$work/hfsx-gen.img"
}

all=(sample_card mbr_fat gpt_fat exfat_4k exfat_128k hfsplus_x512 hfsplus_x2k hfsplus_gen hfsx_gen)
wanted=("$@")
[ ${#wanted[@]} -gt 0 ] || wanted=("${all[@]}")
for name in "${wanted[@]}"; do
    "image_${name//-/_}"
done
