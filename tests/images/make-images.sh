#!/usr/bin/env bash
# Makes Tarnwell's test images with the real tools (mkfs.fat and mtools,
# mkntfs and ntfs-3g, mke2fs and debugfs, mkfs.exfat and exfat-fuse, sfdisk,
# sgdisk, xorriso; hfsplus-gen.py for what no tool makes) and records The Sleuth
# Kit's view of each (mmls, fls -r -p).
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
    seq "$2" 7 999999999 | head -c "$1" || true  # seq ends on a broken pipe
}

# mkfs.fat into part of an image file (no loop device needed).
fat_at() {  # fat_at IMAGE START_SECTOR SECTORS FAT_BITS LABEL [extra mkfs options]
    local img=$1 start=$2 sectors=$3 bits=$4 label=$5
    shift 5
    mkfs.fat --invariant --offset="$start" -F "$bits" -n "$label" "$@" "$img" $((sectors / 2)) >/dev/null
}

# mkntfs onto a file of its own, then into place: the result does not depend
# on how mkntfs treats offsets inside a bigger file.
ntfs_at() {  # ntfs_at IMAGE START_SECTOR SECTORS LABEL
    local img=$1 start=$2 sectors=$3 label=$4 part=$work/ntfs-part.img
    rm -f "$part"; truncate -s $((sectors * 512)) "$part"
    mkntfs -F -Q -q -T -s 512 -p "$start" -H 255 -S 63 -L "$label" "$part" >/dev/null 2>&1
    dd if="$part" of="$img" bs=512 seek="$start" conv=notrunc status=none
    rm -f "$part"
}

# mke2fs writes straight into the image at a byte offset.
ext4_at() {  # ext4_at IMAGE START_SECTOR SECTORS LABEL
    local img=$1 start=$2 sectors=$3 label=$4
    E2FSPROGS_FAKE_TIME=1700000000 mke2fs -q -F -t ext4 -b 1024 -L "$label" \
        -U 0a0b0c0d-1111-2222-3333-444455556666 -E offset=$((start * 512)),hash_seed=0a0b0c0d-1111-2222-3333-444455556666 \
        "$img" $((sectors / 2))
}

exfat_at() {  # exfat_at IMAGE START_SECTOR SECTORS LABEL
    local img=$1 start=$2 sectors=$3 label=$4 part=$work/exfat-part.img
    rm -f "$part"; truncate -s $((sectors * 512)) "$part"
    mkfs.exfat -L "$label" "$part" >/dev/null 2>&1
    dd if="$part" of="$img" bs=512 seek="$start" conv=notrunc status=none
    rm -f "$part"
}

finish() {  # finish NAME IMAGE [FLS_OFFSET...] : compress and record the reference views
    local name=$1 img=$2
    shift 2
    xz -9 -T1 -c "$img" >"$here/$name.img.xz"
    # A GPT disk also carries its protective MBR: ask for the GPT when mmls cannot choose.
    mmls "$img" >"$here/$name.mmls" 2>/dev/null || mmls -t gpt "$img" >"$here/$name.mmls" 2>/dev/null ||
        rm -f "$here/$name.mmls"
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
    record_icat sample-card "$img"
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
    sgdisk -U 11111111-2222-3333-4444-555555555555 \
        -n 1:2048:+70M -t 1:0700 -c 1:"Basic data partition" -u 1:AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE "$img" >/dev/null
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

# Small files of each structured format, planted by the carving tests into
# noise and into a card's free space at offsets the tests choose.
image_carve_samples() {
    local d=$here/carve src=$work/carve-src
    mkdir -p "$d" "$src"
    photo 31 "$d/sample.jpg"
    convert -seed 32 -size 96x64 plasma:fractal "$d/sample.png"
    convert -seed 33 -size 64x48 plasma:fractal -colors 32 "$d/sample.gif"
    convert -seed 34 -size 40x30 plasma:fractal BMP3:"$d/sample.bmp"
    # A PDF of one empty page, written out by hand; two revisions, so two %%EOF.
    printf '%s\n' '%PDF-1.4' '1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj' \
        '2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj' \
        '3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >> endobj' \
        'trailer << /Root 1 0 R >>' '%%EOF' '4 0 obj << /Producer (tarnwell tests) >> endobj' \
        'trailer << /Root 1 0 R /Info 4 0 R >>' '%%EOF' >"$d/sample.pdf"
    pattern 3000 9 >"$src/a.txt"
    printf 'second member\n' >"$src/b.txt"
    touch -d "2024-01-01 00:00:00" "$src/a.txt" "$src/b.txt"
    rm -f "$d/sample.zip"
    (cd "$src" && zip -q -X -z "$d/sample.zip" a.txt b.txt <<<"archive comment")
    echo "made carve samples"
}

# An MBR disk, made by sfdisk: FAT16 in slot 1, slot 2 left empty, an extended
# partition in slot 3 with FAT32, NTFS and ext4 logical volumes, and exFAT in
# slot 4 after the extended one.
image_mbr_mixed() {
    local img=$work/mbr-mixed.img
    truncate -s 70M "$img"
    sfdisk -q "$img" <<'TABLE'
label: dos
label-id: 0x7a3b5c01
start=2048, size=16384, type=6
start=18432, size=2048, type=83
start=20480, size=108544, type=5
start=131072, size=8192, type=7
start=22528, size=69632, type=c
start=94208, size=16384, type=7
start=112640, size=16384, type=83
TABLE
    sfdisk -q --delete "$img" 2
    fat_at "$img" 2048 16384 16 MBR_FAT16 -s 1
    fat_at "$img" 22528 69632 32 MBR_FAT32 -s 1
    ntfs_at "$img" 94208 16384 MBR_NTFS
    ext4_at "$img" 112640 16384 mbr_ext4
    exfat_at "$img" 131072 8192 MBR_EXFAT
    finish mbr-mixed "$img" 2048 22528 94208 112640 131072
}

# A GPT disk, made by sgdisk: an EFI system partition (FAT32), a Microsoft
# reserved partition, a basic-data NTFS and a Linux ext4.
image_gpt_mixed() {
    local img=$work/gpt-mixed.img
    truncate -s 54M "$img"
    sgdisk -U 21111111-2222-3333-4444-555555555555 \
        -n 1:2048:+34M -t 1:ef00 -c 1:"EFI system partition" -u 1:A1AAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE \
        -n 2:71680:+1M -t 2:0c01 -c 2:"Microsoft reserved partition" -u 2:A2AAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE \
        -n 3:73728:+8M -t 3:0700 -c 3:"Basic data partition" -u 3:A3AAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE \
        -n 4:90112:+8M -t 4:8300 -c 4:"Linux filesystem" -u 4:A4AAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE \
        "$img" >/dev/null
    fat_at "$img" 2048 69632 32 EFI_FAT32 -s 1
    ntfs_at "$img" 73728 16384 GPT_NTFS
    ext4_at "$img" 90112 16384 gpt_ext4
    finish gpt-mixed "$img" 2048 73728 90112
}

# A disk whose size is not a whole number of MiB (9 MiB and 100 sectors) with
# one NTFS partition that runs to the last sector, where NTFS keeps its backup
# boot sector.
image_odd_size() {
    local img=$work/odd-size.img
    truncate -s $((9 * 1048576 + 100 * 512)) "$img"
    printf 'label: dos\nlabel-id: 0x0dd5123e\nstart=2048, type=7\n' | sfdisk -q "$img"
    ntfs_at "$img" 2048 $((9 * 2048 + 100 - 2048)) ODD_NTFS
    finish odd-size "$img" 2048
}

# A GPT disk with 4 KiB logical sectors (a 4Kn drive, or a USB bridge that
# presents one): FAT32 of 260 MiB (the fewest 4 KiB clusters mtools takes for
# FAT32; its zeros pack to nothing), NTFS, exFAT and ext4 of 8 MiB, made on a loop
# device of 4096-byte sectors so every tool lays its volume out as on such a
# drive. Each holds a folder with a file in it, a file at the root and one
# deleted file. The Sleuth Kit's views are recorded in 4096-byte units (-b 4096).
image_gpt_4kn() {
    local name=gpt-4kn img=$work/gpt-4kn.img loop m4=$work/mnt-4kn
    truncate -s 290M "$img"
    loop=$(losetup -f --show -P -b 4096 "$img")
    sgdisk -U 41111111-2222-3333-4444-555555555555 \
        -n 1:256:+260M -t 1:0700 -c 1:"fat32" -u 1:B1AAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE \
        -n 2:66816:+8M -t 2:0700 -c 2:"ntfs" -u 2:B2AAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE \
        -n 3:68864:+8M -t 3:0700 -c 3:"exfat" -u 3:B3AAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE \
        -n 4:70912:+8M -t 4:8300 -c 4:"ext4" -u 4:B4AAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE \
        "$loop" >/dev/null
    partx -u "$loop" 2>/dev/null || partx -a "$loop"
    mkfs.fat --invariant -F 32 -S 4096 -s 1 -n FAT4KN -i 4A4B4C4D "${loop}p1" >/dev/null
    mkntfs -F -Q -q -s 4096 -L NTFS4KN "${loop}p2" >/dev/null 2>&1
    mkfs.exfat -L EXFAT4KN "${loop}p3" >/dev/null 2>&1
    E2FSPROGS_FAKE_TIME=1700000000 mke2fs -q -F -t ext4 -b 4096 -L ext4kn \
        -U 4a0b0c0d-1111-2222-3333-444455556666 -E hash_seed=4a0b0c0d-1111-2222-3333-444455556666 "${loop}p4"
    # The files, made once; FAT through mtools, the others through a mount.
    local src=$work/src-4kn n kind
    mkdir -p "$src/docs" "$m4"
    printf 'a note on a volume of 4 KiB sectors\n' >"$src/docs/note.txt"
    pattern data 20000 "$src/docs/data.bin"
    printf 'kept at the root\n' >"$src/root.txt"
    pattern gone 9000 "$src/gone.txt"
    stamp "2024-03-04 05:06:07" "$src/docs/note.txt"; stamp "2024-03-05 06:07:08" "$src/docs/data.bin"
    stamp "2024-03-06 07:08:09" "$src/root.txt"; stamp "2024-03-07 08:09:10" "$src/gone.txt"
    mcopy -s -m -i "${loop}p1" "$src/docs" "$src/root.txt" "$src/gone.txt" ::
    mdel -i "${loop}p1" ::gone.txt
    for n in 2:ntfs 3:exfat 4:ext4; do
        kind=${n#*:}
        case $kind in
            ntfs) ntfs-3g "${loop}p2" "$m4" ;;
            exfat) mount.exfat-fuse "${loop}p3" "$m4" >/dev/null ;;
            ext4) mount -t ext4 "${loop}p4" "$m4" ;;
        esac
        cp -r --preserve=timestamps "$src/." "$m4/"
        sync
        rm "$m4/gone.txt"
        umount "$m4"
    done
    losetup -d "$loop"
    xz -9 -T1 -c "$img" >"$here/$name.img.xz"
    mmls -b 4096 "$img" >"$here/$name.mmls"
    : >"$here/$name.fls"
    local off
    for off in 256 66816 68864 70912; do
        echo "# offset $off" >>"$here/$name.fls"
        fls -b 4096 -r -p -o "$off" "$img" >>"$here/$name.fls" 2>&1 || true
    done
    echo "made $name ($(du -h "$here/$name.img.xz" | cut -f1) packed)"
}

# ---- NTFS: mkntfs, populated through an ntfs-3g mount of the image file ----

mnt=""
unmount() {
    [ -n "$mnt" ] || return 0
    umount "$mnt" 2>/dev/null || { sleep 1; umount "$mnt"; } || umount -l "$mnt"
    mnt=""
}
# Never remove the work folder through a mount that is still there.
trap 'unmount; mountpoint -q "$work/mnt" 2>/dev/null || rm -rf "$work"' EXIT

# icat's view of every file that fls lists (live and deleted), beside fls's:
# "md5 inode path" per line; the tests compare our extraction with it.
ntfs_sums() {  # ntfs_sums NAME IMAGE
    fls -r -p -F "$2" | sed -n 's/^[r-]\/r \(\* \)\{0,1\}\([0-9]*-128-[0-9]*\):\t\(.*\)$/\2\t\3/p' |
        grep -v -P '\t\$(?!RECYCLE)' | while IFS=$'\t' read -r inode path; do
            printf '%s %s %s\n' "$(icat "$2" "$inode" | md5sum | cut -d' ' -f1)" "$inode" "$path"
        done >"$here/$1.sums"
}

ntfs_new() {  # ntfs_new IMAGE SIZE CLUSTER LABEL : format and mount at $work/mnt
    truncate -s "$2" "$1"
    mkntfs -F -Q -q -s 512 -p 0 -H 255 -S 63 -c "$3" -L "$4" "$1" 2>/dev/null
    ntfs_mount "$1"
}
ntfs_mount() {
    mkdir -p "$work/mnt"
    ntfs-3g -o compression "$1" "$work/mnt"
    mnt=$work/mnt
}

# Text whose every line names its file and line, so a misplaced cluster shows.
pattern() {  # pattern TAG BYTES FILE ("-": standard output)
    if [ "$3" != - ]; then pattern "$1" "$2" - >"$3"; return; fi
    awk -v t="$1" -v n="$2" 'BEGIN {
        for (i = 0; n > 0; i++) {
            s = sprintf("%s line %08d abcdefghijklmnopqrstuvwxyz\n", t, i)
            if (length(s) > n) s = substr(s, 1, n)
            printf "%s", s; n -= length(s)
        } }'
}

# A recycle-bin index file: version 1 (Vista to 8.1: fixed 520-byte path) or
# version 2 (Windows 10: name length at 24, the path at 28).
recycle_index() {  # recycle_index VERSION SIZE PATH FILE
    local path16
    path16=$(printf '%s' "$3" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 | tr -d ' \n')
    {
        printf '%016x' "$1" | le64
        printf '%016x' "$2" | le64
        printf '01d7a1b2c3d4e5f6' | le64   # deletion time
        if [ "$1" = 2 ]; then
            printf '%08x' $(( ${#path16} / 4 + 1 )) | le32
            printf '%s0000' "$path16" | xxd -r -p
        else
            printf '%s' "$path16" | xxd -r -p
            head -c $(( 520 - ${#path16} / 2 )) /dev/zero
        fi
    } >"$4"
}
le64() { read -r h || true; printf '%s' "$h" | sed 's/../& /g' | awk '{ for (i = NF; i > 0; i--) printf "%s", $i }' | xxd -r -p; }
le32() { le64; }

# The main NTFS volume, 4 KiB clusters: resident, fragmented, sparse, compressed
# and attribute-list files, non-ASCII names, deleted files and folders, a recycle bin.
image_ntfs_4k() {
    local img=$work/ntfs-4k.img
    ntfs_new "$img" 24M 4096 NTFS4K
    local m=$mnt
    mkdir -p "$m/Docs/Sub" "$m/Squeezed" "$m/Gone" "$m/\$RECYCLE.BIN/S-1-5-21-1000-1001"
    printf 'small resident file\n' >"$m/Docs/small.txt"
    pattern resident 690 "$m/Docs/resident690.txt"
    pattern fourk 10000 "$m/Docs/Sub/tenthousand.txt"
    printf 'grüße\n' >"$m/Docs/Überraschung.txt"
    printf 'nihongo\n' >"$m/Docs/日本語の名前.txt"
    printf 'cafe\n' >"$m/Docs/naïve café.txt"
    pattern longname 3000 "$m/Docs/A rather long file name that has no short form at all.document"
    # Sparse: a hole, data, a hole, data, a tail never written.
    truncate -s 1M "$m/sparse.bin"
    printf 'middle of the sparse file' | dd of="$m/sparse.bin" bs=1 seek=300000 conv=notrunc status=none
    printf 'near the end' | dd of="$m/sparse.bin" bs=1 seek=700000 conv=notrunc status=none
    # Compressed: files created in a folder flagged compressed (0x800).
    setfattr -n system.ntfs_attrib_be -v 0x00000810 "$m/Squeezed"
    pattern squeezed 200000 "$m/Squeezed/text.txt"
    { pattern mixed 70000 -; head -c 70000 /dev/urandom; head -c 70000 /dev/zero; pattern tail 12345 -; } >"$m/Squeezed/mixed.bin"
    printf 'tiny compressed\n' >"$m/Squeezed/tiny.txt"
    # Deleted file and a deleted folder with files.
    pattern deleted 9000 "$m/Docs/deleted.txt"
    pattern gone 5000 "$m/Gone/one.txt"
    pattern gone2 700 "$m/Gone/two.txt"
    # Recycle bin pairs of both index versions.
    local rb="$m/\$RECYCLE.BIN/S-1-5-21-1000-1001"
    pattern report 4000 "$rb/\$RABC123.txt"
    recycle_index 1 4000 'C:\Users\ann\Documents\report.txt' "$rb/\$IABC123.txt"
    pattern photo 6000 "$rb/\$RDEF456.jpg"
    recycle_index 2 6000 'C:\Users\ann\Pictures\Ferien in Zürich.jpg' "$rb/\$IDEF456.jpg"
    # Fragmented: fill the volume with 2-cluster files, delete every other one,
    # then write a large file into the holes; its runs overflow into an attribute list.
    mkdir "$m/fill"
    local i=0
    while pattern "fill$i" 8192 "$m/fill/f$i" 2>/dev/null && [ -s "$m/fill/f$i" ] && [ $(( $(stat -c %s "$m/fill/f$i") )) -eq 8192 ]; do
        i=$((i + 1))
    done
    rm -f "$m/fill/f$i"
    local j
    for ((j = 0; j < i; j += 2)); do rm -f "$m/fill/f$j"; done
    pattern fragmented $(( (i / 2 - 8) * 8192 )) "$m/fragmented.txt"
    rm -f "$m/fill/"f*[13579]   # keep the folder small: half of what is left
    rm -f "$m/Docs/deleted.txt"
    rm -rf "$m/Gone"
    find "$m" -exec touch -h -d "2024-03-05 14:30:15" {} + 2>/dev/null || true
    unmount
    finish ntfs-4k "$img"
    ntfs_sums ntfs-4k "$img"
}

# 512-byte clusters: every record spans two clusters.
image_ntfs_512() {
    local img=$work/ntfs-512.img
    ntfs_new "$img" 8M 512 NTFS512
    local m=$mnt
    mkdir -p "$m/dir"
    printf 'tiny\n' >"$m/dir/tiny.txt"
    pattern fivetwelve 20000 "$m/dir/data.txt"
    pattern big 300000 "$m/big.txt"
    pattern deleted 3000 "$m/dir/removed.txt"
    rm -f "$m/dir/removed.txt"
    find "$m" -exec touch -h -d "2023-11-20 08:15:00" {} + 2>/dev/null || true
    unmount
    finish ntfs-512 "$img"
    ntfs_sums ntfs-512 "$img"
}

# 64 KiB clusters: 64 records in each cluster of the MFT.
image_ntfs_64k() {
    local img=$work/ntfs-64k.img
    ntfs_new "$img" 40M 65536 NTFS64K
    local m=$mnt
    mkdir -p "$m/big clusters"
    printf 'resident\n' >"$m/big clusters/r.txt"
    pattern sixtyfour 200000 "$m/big clusters/two-hundred-k.txt"
    pattern sixtyfour2 70000 "$m/seventy-k.txt"
    find "$m" -exec touch -h -d "2022-07-04 23:59:58" {} + 2>/dev/null || true
    unmount
    finish ntfs-64k "$img"
    ntfs_sums ntfs-64k "$img"
}

# 5,000 files in one folder: the index spreads over many index blocks.
image_ntfs_many() {
    local img=$work/ntfs-many.img
    ntfs_new "$img" 24M 4096 MANY
    local m=$mnt i
    mkdir -p "$m/crowd"
    for ((i = 0; i < 5000; i++)); do printf '%d\n' "$i" >"$m/crowd/file$(printf %05d $i).txt"; done
    unmount
    finish ntfs-many "$img"
}

# A volume quick-formatted over an older one: only the Deep mode finds the old files.
image_ntfs_reformatted() {
    local img=$work/ntfs-reformatted.img
    ntfs_new "$img" 16M 4096 BEFORE
    local m=$mnt i
    # The new MFT's first records overwrite the old ones: pad so the old files lie past them.
    mkdir "$m/pad"
    for ((i = 0; i < 16; i++)); do printf 'pad\n' >"$m/pad/p$i"; done
    mkdir -p "$m/old folder/inner"
    for ((i = 0; i < 40; i++)); do pattern "old$i" 1500 "$m/old folder/old$i.txt"; done
    pattern innerfile 9000 "$m/old folder/inner/inner.txt"
    find "$m" -exec touch -h -d "2021-01-02 03:04:05" {} + 2>/dev/null || true
    unmount
    mkntfs -F -Q -q -s 512 -p 0 -H 255 -S 63 -c 4096 -L AFTER "$img" 2>/dev/null
    ntfs_mount "$img"
    printf 'after the format\n' >"$mnt/new.txt"
    unmount
    finish ntfs-reformatted "$img"
    ntfs_sums ntfs-reformatted "$img"
}

# ---- FAT12, FAT16 and FAT32 images for the FAT parsers ----------------------
# mtools takes long names from the locale; UTF-8 names need a UTF-8 one.
export LC_ALL=C.UTF-8

# Deterministic file contents: numbered lines, so that every cluster differs.
content() {  # content SEED BYTES FILE
    { seq -f "$1 line %07g of a test file for tarnwell" 1 $(($2 / 40 + 1)) || true; } | head -c "$2" >"$3"
}

# Little-endian fields of an image, read and written in place.
get_le() {  # get_le IMAGE OFFSET SIZE
    od -An --endian=little -t "u$3" -j "$2" -N "$3" "$1" | tr -d ' '
}
put_le() {  # put_le IMAGE OFFSET SIZE VALUE
    local bytes="" i
    for ((i = 0; i < $3; i++)); do bytes+=$(printf '\\x%02x' $((($4 >> (8 * i)) & 255))); done
    printf '%b' "$bytes" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

# FAT32: point the FSInfo "next free cluster" hint back at cluster 2, so that
# the next write by mtools fills the gaps that deletions left (fragmentation).
rewind_free_hint() {  # rewind_free_hint IMAGE
    local fsinfo=$(($(get_le "$1" 48 2) * 512))
    put_le "$1" $((fsinfo + 492)) 4 2
}

# The Sleuth Kit's bytes of every regular file: one line per file with its
# inode, deletion mark, size, modification time (seconds, TZ=UTC), the number
# of bytes icat gives, their MD5 and the path (NAME.icat). icat gives a
# deleted file whole when it gives size bytes.
record_icat() {  # record_icat NAME IMAGE [OFFSET]
    local name=$1 img=$2 off=${3:-0} out=$here/$1.icat
    : >"$out"
    fls -r -p -m / -o "$off" "$img" | while IFS='|' read -r _ path inode mode _ _ size _ mtime _ _; do
        case $mode in r/r* | -/r*) ;; *) continue ;; esac
        case $path in *"(Volume Label Entry)"*) continue ;; esac
        local deleted=0 n=${inode%%-*}
        case $path in *" (deleted)") deleted=1; path=${path% (deleted)} ;; esac
        local bytes md5
        bytes=$(icat -o "$off" "$img" "$n" | wc -c)
        md5=$(icat -o "$off" "$img" "$n" | md5sum | cut -d' ' -f1)
        printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$n" "$deleted" "$size" "$mtime" "$bytes" "$md5" "${path#/}" >>"$out"
    done
}

# A FAT12 floppy, 512-byte clusters: long names up to 255 characters, non-ASCII
# names, lower-case 8.3 names, an empty file, hidden, system and read-only
# entries, a fragmented file, deleted files.
image_fat12_floppy() {
    local img=$work/fat12-floppy.img src=$work/floppy
    truncate -s 1440K "$img"
    fat_at "$img" 0 2880 12 FLOPPY -s 1 -i 0F12F12A
    mkdir -p "$src"
    local long255
    long255=$(printf 'Long%.0s' $(seq 1 62))
    long255="${long255}end.txt"  # 248 + 7 = 255 characters
    content a 700 "$src/long"; stamp "2021-03-04 05:06:08" "$src/long"
    mcopy -m -i "$img" "$src/long" "::$long255"
    local n=0
    for name in "Grüße aus Köln.txt" "日本語のファイル.txt" "Ελληνικά.doc" "Привет.txt" "café crème.txt"; do
        n=$((n + 1))
        content "u$n" $((n * 300)) "$src/u$n"; stamp "2021-04-0$n 10:00:00" "$src/u$n"
        mcopy -m -i "$img" "$src/u$n" "::$name"
    done
    content r 100 "$src/r"; stamp "2020-01-01 00:00:00" "$src/r"
    mcopy -m -i "$img" "$src/r" ::readme.txt   # base and extension lower case (flags 0x18)
    mcopy -m -i "$img" "$src/r" ::LOG.txt      # extension lower case (0x10)
    mcopy -m -i "$img" "$src/r" ::data.BIN     # base lower case (0x08)
    : >"$src/empty"; stamp "2020-02-02 02:02:02" "$src/empty"
    mcopy -m -i "$img" "$src/empty" ::EMPTY.DAT
    # Attributes other than archive alone.
    mmd -i "$img" ::HIDDEN
    mcopy -m -i "$img" "$src/r" ::HIDDEN/inner.txt
    mattrib -i "$img" +h ::HIDDEN
    mcopy -m -i "$img" "$src/r" ::SYSTEM.SYS
    mcopy -m -i "$img" "$src/r" ::RDONLY.TXT
    mcopy -m -i "$img" "$src/r" ::PLAIN.TXT
    mattrib -i "$img" +s ::SYSTEM.SYS
    mattrib -i "$img" +r ::RDONLY.TXT
    mattrib -i "$img" -a ::PLAIN.TXT
    # Fragmentation: a gap left by a deleted file is filled by the next one.
    content p 3000 "$src/p"; content q 3000 "$src/q"; content s 3000 "$src/s"; content f 9000 "$src/f"
    stamp "2022-07-07 07:07:06" "$src/f"
    mcopy -m -i "$img" "$src/p" ::P.BIN
    mcopy -m -i "$img" "$src/q" "::gap filler.bin"
    mcopy -m -i "$img" "$src/s" ::S.BIN
    mdel -i "$img" "::gap filler.bin"
    mcopy -m -i "$img" "$src/f" ::FRAGMENT.BIN
    # Deleted files, one of them with a long name.
    content g 1200 "$src/g"
    mcopy -m -i "$img" "$src/g" ::GONE.TXT
    mcopy -m -i "$img" "$src/g" "::A deleted file with a long name.txt"
    mdel -i "$img" ::GONE.TXT "::A deleted file with a long name.txt"
    finish fat12-floppy "$img"
    record_icat fat12-floppy "$img"
}

# FAT12 with 32 KiB clusters: files across clusters, a folder, a deleted file.
image_fat12_bigcluster() {
    local img=$work/fat12-bigcluster.img src=$work/big
    truncate -s 8M "$img"
    fat_at "$img" 0 16384 12 BIGCLUSTER -s 64 -i 0F12B16C
    mkdir -p "$src"
    content b1 100000 "$src/b1"; stamp "2019-09-09 09:09:08" "$src/b1"
    content b2 32768 "$src/b2"; stamp "2019-09-10 10:10:10" "$src/b2"
    content b3 70000 "$src/b3"
    mmd -i "$img" ::Photos
    mcopy -m -i "$img" "$src/b1" "::Photos/Three clusters and a bit.jpg"
    mcopy -m -i "$img" "$src/b2" ::Photos/EXACTLY1.CLU
    mcopy -m -i "$img" "$src/b3" ::Photos/DELETED.JPG
    mdel -i "$img" ::Photos/DELETED.JPG
    finish fat12-bigcluster "$img"
    record_icat fat12-bigcluster "$img"
}

# A FAT16 stick, 2 KiB clusters: folders six deep, a folder of 400 files whose
# directory spans many clusters, fragmented files, a deleted folder tree, a
# deleted file whose clusters a live file took over, a volume label.
image_fat16_stick() {
    local img=$work/fat16-stick.img src=$work/stick
    truncate -s 32M "$img"
    fat_at "$img" 0 65536 16 USB_STICK -s 4 -i 16161616
    mkdir -p "$src/many"
    mmd -i "$img" ::one ::one/two ::one/two/three ::one/two/three/four ::one/two/three/four/five \
        ::one/two/three/four/five/six
    content deep 5000 "$src/deep"; stamp "2018-08-08 08:08:08" "$src/deep"
    mcopy -m -i "$img" "$src/deep" "::one/two/three/four/five/six/at the bottom.txt"
    local i
    for i in $(seq -w 1 400); do
        content "m$i" $((10#$i * 7)) "$src/many/Picture number $i from the holiday.jpg"
        stamp "2023-03-03 03:03:04" "$src/many/Picture number $i from the holiday.jpg"
    done
    mmd -i "$img" ::many
    mcopy -m -i "$img" "$src/many/"* ::many/
    # Fragmentation: FAT16 has no free-cluster hint, so mtools fills the gaps.
    content x1 5000 "$src/x1"; content x2 5000 "$src/x2"; content x3 5000 "$src/x3"; content x4 20000 "$src/x4"
    content x5 9000 "$src/x5"; content x6 30000 "$src/x6"; content x7 4000 "$src/x7"
    stamp "2022-02-22 22:22:22" "$src/x4"; stamp "2022-02-23 23:23:22" "$src/x6"
    mmd -i "$img" ::frag
    mcopy -m -i "$img" "$src/x1" ::frag/first.bin
    mcopy -m -i "$img" "$src/x2" ::frag/second.bin
    mcopy -m -i "$img" "$src/x3" ::frag/third.bin
    mcopy -m -i "$img" "$src/x5" ::frag/fifth.bin
    mcopy -m -i "$img" "$src/x7" ::frag/seventh.bin
    mdel -i "$img" ::frag/second.bin ::frag/fifth.bin
    mcopy -m -i "$img" "$src/x4" "::frag/in three pieces.bin"  # the two gaps, then after seventh.bin
    mdel -i "$img" ::frag/third.bin
    mcopy -m -i "$img" "$src/x6" "::frag/also fragmented.bin"
    # A deleted file whose start cluster a later file took over.
    mmd -i "$img" ::old ::new
    content o1 6000 "$src/o1"; content n1 3000 "$src/n1"
    mcopy -m -i "$img" "$src/o1" "::old/overwritten later.txt"
    mdel -i "$img" "::old/overwritten later.txt"
    mcopy -m -i "$img" "$src/n1" "::new/took the clusters.txt"
    : >"$src/empty"; mcopy -m -i "$img" "$src/empty" ::EMPTY
    # A deleted folder tree, files and folders inside it (last, so that
    # nothing reuses its slot or its clusters).
    mmd -i "$img" ::trash ::trash/inner ::trash/inner/innermost
    content t1 3000 "$src/t1"; content t2 4500 "$src/t2"; content t3 100 "$src/t3"
    mcopy -m -i "$img" "$src/t1" "::trash/deleted with its folder.txt"
    mcopy -m -i "$img" "$src/t2" ::trash/inner/T2.BIN
    mcopy -m -i "$img" "$src/t3" ::trash/inner/innermost/t3.txt
    mdeltree -i "$img" ::trash
    finish fat16-stick "$img"
    record_icat fat16-stick "$img"
}

# A FAT32 card, 1 KiB clusters: long and non-ASCII names, fragmented files
# (the free-cluster hint rewound), deleted files and folders, and a recycle
# bin with "$I"/"$R" pairs of both index versions, in per-user folders and at
# its top.
image_fat32_card() {
    local img=$work/fat32-card.img src=$work/card32
    truncate -s 66M "$img"
    fat_at "$img" 0 135168 32 CARD_32 -s 2 -i 32323232
    mkdir -p "$src"
    mmd -i "$img" ::DCIM ::DCIM/100MEDIA "::Documents and Settings" "::Documents and Settings/Ünïcödé Földer"
    local n
    for n in 1 2 3 4 5; do
        photo "$((n + 20))" "$src/p$n.jpg"; stamp "2024-01-0$n 08:0$n:00" "$src/p$n.jpg"
        mcopy -m -i "$img" "$src/p$n.jpg" "::DCIM/100MEDIA/DSC0000$n.JPG"
    done
    content d1 2500 "$src/d1"; stamp "2024-02-02 12:00:00" "$src/d1"
    mcopy -m -i "$img" "$src/d1" "::Documents and Settings/Ünïcödé Földer/Ötzi und Çedille – notes.txt"
    content l1 4000 "$src/l1"; stamp "2024-02-03 13:00:00" "$src/l1"
    mcopy -m -i "$img" "$src/l1" "::$(printf 'A%.0s' $(seq 1 120)) and then more and more to reach a length of well over one hundred and fifty characters in all.txt"
    # Fragmentation.
    content y1 30000 "$src/y1"; content y2 20000 "$src/y2"; content y3 30000 "$src/y3"; content y4 90000 "$src/y4"
    stamp "2023-11-11 11:11:10" "$src/y4"
    mcopy -m -i "$img" "$src/y1" ::y1.bin
    mcopy -m -i "$img" "$src/y2" ::y2.bin
    mcopy -m -i "$img" "$src/y3" ::y3.bin
    mdel -i "$img" ::y2.bin
    rewind_free_hint "$img"
    mcopy -m -i "$img" "$src/y4" "::Fragmented video.mp4"
    # A deleted folder with files.
    mmd -i "$img" ::Old ::Old/Sub
    content z1 5000 "$src/z1"; content z2 2000 "$src/z2"
    mcopy -m -i "$img" "$src/z1" "::Old/removed report.doc"
    mcopy -m -i "$img" "$src/z2" ::Old/Sub/Z2.TXT
    mdeltree -i "$img" ::Old
    mdel -i "$img" ::DCIM/100MEDIA/DSC00002.JPG
    # The recycle bin: "$I" index files made by hand, their "$R" data beside them.
    local sid=S-1-5-21-1111111111-2222222222-3333333333
    mmd -i "$img" "::\$RECYCLE.BIN" "::\$RECYCLE.BIN/$sid-1001" "::\$RECYCLE.BIN/$sid-1002"
    recycle_pair "$img" "$src" 2 "C:\\Users\\anna\\Pictures\\Birthday cake.jpg" "\$RECYCLE.BIN/$sid-1001" "\$RX1Y2Z3.jpg" 7
    recycle_pair "$img" "$src" 1 "C:\\Users\\ben\\Documents\\Tax return 2023.pdf" "\$RECYCLE.BIN/$sid-1002" "\$RQ7W8E9.pdf" 8
    recycle_pair "$img" "$src" 2 "D:\\Shared\\plan.txt" "\$RECYCLE.BIN" "\$RAB12CD.txt" 9
    finish fat32-card "$img"
    record_icat fat32-card "$img"
}

# One recycled file: "$I..." of the given version recording PATH, and "$R...".
recycle_pair() {  # recycle_pair IMAGE SRC VERSION PATH FOLDER RNAME SEED
    local img=$1 src=$2 version=$3 path=$4 folder=$5 rname=$6 seed=$7
    local info=$src/i$seed data=$src/r$seed units
    content "r$seed" $((seed * 900)) "$data"; stamp "2023-12-0$((seed - 6)) 10:00:00" "$data"
    units=$(printf '%s' "$path" | iconv -f UTF-8 -t UTF-16LE | wc -c)
    units=$((units / 2 + 1))
    {
        le64 "$version"; le64 $((seed * 900)); le64 133466112000000000
        [ "$version" = 2 ] && le32 "$units"
        printf '%s' "$path" | iconv -f UTF-8 -t UTF-16LE
        if [ "$version" = 2 ]; then printf '\0\0'; else head -c $((520 - (units - 1) * 2)) /dev/zero; fi
    } >"$info"
    stamp "2023-12-0$((seed - 6)) 10:00:02" "$info"
    mcopy -m -i "$img" "$info" "::$folder/\$I${rname#\$R}"
    mcopy -m -i "$img" "$data" "::$folder/$rname"
}
le32() { local b="" i; for ((i = 0; i < 4; i++)); do b+=$(printf '\\x%02x' $((($1 >> (8 * i)) & 255))); done; printf '%b' "$b"; }
le64() { local b="" i; for ((i = 0; i < 8; i++)); do b+=$(printf '\\x%02x' $((($1 >> (8 * i)) & 255))); done; printf '%b' "$b"; }

# A FAT32 volume whose root directory does not start at cluster 2. mkfs.fat
# always puts the root at cluster 2 and has no option to move it, so the
# script moves it by hand: once the root has a few clusters (many entries),
# its first cluster is copied to a free cluster far away, the table entries
# follow (new cluster -> the old second cluster, cluster 2 freed, in both
# FATs), the root-cluster field (offset 44) of the boot sector and of its
# backup (sector 6) is set, and cluster 2 is zeroed. fsck.fat -n checks the
# result, and mtools then adds one more file through the moved root.
image_fat32_rootmoved() {
    local img=$work/fat32-rootmoved.img src=$work/moved
    truncate -s 34M "$img"
    fat_at "$img" 0 69632 32 MOVED_ROOT -s 1 -i 32320002
    mkdir -p "$src/lots"
    local i
    for i in $(seq -w 1 40); do
        content "v$i" $((10#$i * 50)) "$src/lots/Root entry with a long name $i.txt"
        stamp "2022-05-05 05:05:06" "$src/lots/Root entry with a long name $i.txt"
    done
    mcopy -m -i "$img" "$src/lots/"* ::
    mmd -i "$img" ::Sub
    content w1 1500 "$src/w1"; stamp "2022-06-06 06:06:06" "$src/w1"
    mcopy -m -i "$img" "$src/w1" "::Sub/inside the subfolder.txt"
    local bps=512 reserved fats spf
    reserved=$(get_le "$img" 14 2); fats=$(get_le "$img" 16 1); spf=$(get_le "$img" 36 4)
    local data=$(((reserved + fats * spf) * bps)) moved=60000
    [ "$(get_le "$img" $((reserved * bps + moved * 4)) 4)" = 0 ] || { echo "cluster $moved is not free" >&2; exit 1; }
    local second f
    second=$(get_le "$img" $((reserved * bps + 2 * 4)) 4)
    dd if="$img" of="$img" bs=512 skip=$((data / bps)) seek=$(((data + (moved - 2) * bps) / bps)) count=1 conv=notrunc status=none
    for ((f = 0; f < fats; f++)); do
        local fat=$(((reserved + f * spf) * bps))
        put_le "$img" $((fat + moved * 4)) 4 "$second"
        put_le "$img" $((fat + 2 * 4)) 4 0
    done
    put_le "$img" 44 4 "$moved"
    put_le "$img" $((6 * bps + 44)) 4 "$moved"
    dd if=/dev/zero of="$img" bs=512 seek=$((data / bps)) count=1 conv=notrunc status=none
    fsck.fat -n "$img" >/dev/null
    content w2 800 "$src/w2"; stamp "2022-07-07 07:07:08" "$src/w2"
    mcopy -m -i "$img" "$src/w2" "::Added after the move.txt"
    fsck.fat -n "$img" >/dev/null
    finish fat32-rootmoved "$img"
    record_icat fat32-rootmoved "$img"
}

# A card quick-formatted over its photos: mkfs.fat again with the same
# geometry (it rewrites the boot sector, the tables and the root, not the data
# area), then one new file, which takes the first free cluster (the old DCIM
# folder). `tarnwell list --formatted` finds the old folders in the data area.
image_fat32_formatted() {
    local img=$work/fat32-formatted.img src=$work/formatted
    truncate -s 34M "$img"
    fat_at "$img" 0 69632 32 OLD_CARD -s 1 -i 0F0F0F0F
    mkdir -p "$src"
    mmd -i "$img" ::DCIM ::DCIM/100CANON ::MISC
    local n
    for n in 1 2 3 4; do
        photo "$((n + 40))" "$src/IMG_010$n.JPG"; stamp "2023-08-0$n 14:0$n:00" "$src/IMG_010$n.JPG"
        mcopy -m -i "$img" "$src/IMG_010$n.JPG" ::DCIM/100CANON/
    done
    content k1 3000 "$src/k1"; stamp "2023-08-09 09:09:10" "$src/k1"
    mcopy -m -i "$img" "$src/k1" "::MISC/Shopping list.txt"
    content k2 700 "$src/k2"
    mcopy -m -i "$img" "$src/k2" "::In the old root.txt"
    fat_at "$img" 0 69632 32 NEW_CARD -s 1 -i 0E0E0E0E
    content k3 400 "$src/k3"; stamp "2024-01-01 01:01:02" "$src/k3"
    mcopy -m -i "$img" "$src/k3" ::NEW.TXT
    finish fat32-formatted "$img"
    record_icat fat32-formatted "$img"
}

# A card quick-formatted with another cluster size: 512-byte clusters with
# folders and files, then mkfs.fat with 1 KiB clusters, which writes tables of
# half the size and a new root over the old tables and leaves the old data area. The old
# volume's views are recorded before the reformat (.fls, .icat, and .old with
# its table positions and cluster size) for the advanced scan to match.
image_fat32_reclustered() {
    local img=$work/fat32-reclustered.img src=$work/reclustered
    truncate -s 66M "$img"
    fat_at "$img" 0 135168 32 OLD_CARD -s 1 -i 0D0D0D0D
    mkdir -p "$src"
    mmd -i "$img" ::DCIM ::DCIM/100NIKON ::Notes
    local n
    for n in 1 2 3; do
        photo "$((n + 60))" "$src/DSC_000$n.JPG"; stamp "2023-05-0$n 10:0$n:00" "$src/DSC_000$n.JPG"
        mcopy -m -i "$img" "$src/DSC_000$n.JPG" ::DCIM/100NIKON/
    done
    content r1 6000 "$src/r1"; stamp "2023-05-09 09:09:10" "$src/r1"
    mcopy -m -i "$img" "$src/r1" "::Notes/Packing list for the long trip.txt"
    content r2 900 "$src/r2"; stamp "2023-05-10 10:10:10" "$src/r2"
    mcopy -m -i "$img" "$src/r2" "::Top level.txt"
    # The old volume's views, then its geometry: first table, copies, table and cluster size.
    finish fat32-reclustered "$img"
    record_icat fat32-reclustered "$img"
    python3 - "$img" >"$here/fat32-reclustered.old" <<'PY'
import struct, sys
b = open(sys.argv[1], "rb").read(512)
bps, spc, reserved, fats = struct.unpack_from("<HBHB", b, 11)
spf = struct.unpack_from("<I", b, 36)[0]
print("# before the reformat: first table (byte), copies, table bytes, sectors per cluster")
print(reserved * bps, fats, spf * bps, spc * bps // 512)
PY
    fat_at "$img" 0 135168 32 NEW_CARD -s 2 -i 0C0C0C0C
    content r3 300 "$src/r3"; stamp "2024-02-02 02:02:02" "$src/r3"
    mcopy -m -i "$img" "$src/r3" ::NEW.TXT
    xz -9 -T1 -c "$img" >"$here/fat32-reclustered.img.xz"
    echo "reformatted fat32-reclustered with 1 KiB clusters"
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

# ---- ext2/3/4: mke2fs, filled by debugfs command files --------------------
# Fixed times (debugfs and mke2fs read E2FSPROGS_FAKE_TIME), fixed UUIDs and
# hash seeds, so that the images are the same on every run.
export E2FSPROGS_FAKE_TIME=1700000000

# Compressible text that differs in every line, so a misplaced block shows.
gen() {  # gen TAG BYTES > FILE
    LC_ALL=C awk -v t="$1" -v n="$2" 'BEGIN {
        for (i = 0; done < n; i++) {
            line = sprintf("%s %08d the quick brown fox jumps over the lazy dog ....\n", t, i)
            if (done + length(line) > n) line = substr(line, 1, n - done)
            printf "%s", line
            done += length(line)
        }
    }'
}

mkext() {  # mkext IMAGE SIZE mke2fs-options...
    local img=$1 size=$2
    shift 2
    rm -f "$img"
    truncate -s "$size" "$img"
    mke2fs -q -F -U 0b5e55ed-0000-4000-8000-00000000e4e4 -E hash_seed=0b5e55ed-0000-4000-8000-00000000a5a5 "$@" "$img"
}

dbg() {  # dbg IMAGE < commands : runs a debugfs command file, failing on none of its messages
    local cmds=$work/debugfs.cmd
    cat >"$cmds"
    (cd "$work" && debugfs -w -f "$cmds" "$1" >/dev/null 2>&1)
}

# icat's bytes of every regular file that fls lists (live and deleted), as
# "cksum size inode path"; paths matching SKIP are left out. (Links are left
# out: icat gives zeros for a target held in the inode.)
record_ext_cksums() {  # record_ext_cksums NAME IMAGE [SKIP_REGEX]
    local name=$1 img=$2 skip=${3:-'^$'}
    : >"$here/$name.icat"
    grep -aE '^[-r]/r' "$here/$name.fls" | while IFS=$'\t' read -r head path; do
        [[ $path =~ $skip ]] && continue
        local ino=${head##* }
        ino=${ino%%(*}
        ino=${ino%:}
        [ "$ino" != 0 ] || continue
        local sum
        if ! sum=$(icat "$img" "$ino" 2>/dev/null | cksum); then
            printf '# icat failed on %s\t%s\n' "$ino" "$path" >>"$here/$name.icat"
            continue
        fi
        printf '%s %s\t%s\t%s\n' "${sum%% *}" "$(echo "$sum" | cut -d' ' -f2)" "$ino" "$path" >>"$here/$name.icat"
    done
}

# Source files shared by the ext images.
ext_sources() {
    mkdir -p "$work/src"
    gen hello 100 >"$work/src/hello.txt"
    gen small 3000 >"$work/src/small.txt"
    gen medium 300000 >"$work/src/medium.txt"
    gen tiny 40 >"$work/src/tiny.txt"
    gen inline 150 >"$work/src/inline.txt"
    gen two 2097152 >"$work/src/two-mib.bin"
    # Sparse: data at 0, 100 KiB, 2 MiB and 70 MiB (the triple-indirect range of 1 KiB blocks).
    local s=$work/src/sparse.bin
    rm -f "$s"; truncate -s $((70 * 1048576 + 4096)) "$s"
    for at in 0 102400 2097152 $((70 * 1048576)); do gen "at$at" 4096 | dd of="$s" bs=4096 seek=$((at / 4096)) conv=notrunc status=none; done
    # Over 4 GiB, nearly all hole.
    local b=$work/src/big.bin
    rm -f "$b"; truncate -s $((5 * 1073741824 + 8192)) "$b"
    gen head 4096 | dd of="$b" conv=notrunc status=none
    gen middle 4096 | dd of="$b" bs=4096 seek=$((4 * 1073741824 / 4096 + 1)) conv=notrunc status=none
    gen tail 8192 | dd of="$b" bs=4096 seek=$((5 * 1073741824 / 4096)) conv=notrunc status=none
    : >"$work/src/empty.txt"
}

# The tree most images share: folders, non-ASCII names, links, a FIFO and a
# device, then deleted files and a deleted folder whose files keep their inodes.
common_tree() {
    cat <<'EOF_CMDS'
write src/hello.txt hello.txt
set_inode_field hello.txt mtime 20240601110100
mkdir docs
mkdir docs/deep
mkdir docs/deep/deeper
write src/small.txt docs/small.txt
write src/medium.txt docs/medium.txt
write src/hello.txt docs/deep/deeper/leaf.txt
set_inode_field docs/deep/deeper/leaf.txt mtime 19991231235958
mkdir Grüße
write src/small.txt "Grüße/naïve café.txt"
write src/empty.txt empty.txt
symlink fast-link docs/small.txt
symlink slow-link /a-long-target/aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa/bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb/docs/small.txt
ln docs/small.txt hard-link.txt
sif docs/small.txt links_count 2
mknod fifo p
mknod null-device c 1 3
mkdir gone
write src/small.txt gone/inside.txt
write src/hello.txt gone/other.txt
mkdir many
EOF_CMDS
    for i in $(seq 1 60); do echo "write src/hello.txt many/entry-with-a-long-name-$i.txt"; done
}

# Deleted files, entries in a big folder, and the folder "gone" unlinked.
common_deletions() {
    cat <<'EOF_CMDS'
write src/medium.txt deleted.txt
rm deleted.txt
rm many/entry-with-a-long-name-30.txt
rm many/entry-with-a-long-name-31.txt
rm many/entry-with-a-long-name-45.txt
unlink gone
EOF_CMDS
}

# Kills the inode of the folder "gone" (unlinked above): its files keep theirs.
kill_gone() {  # kill_gone IMAGE
    local ino
    ino=$(fls -d "$1" | awk -F'\t' '$2 == "gone" { h = $1; sub(/.* /, "", h); sub(/[(:].*/, "", h); print h }')
    if [ -n "$ino" ]; then printf "kill_file <%s>\n" "$ino" | dbg "$1"; fi
}

image_ext2_1k() {
    local img=$work/ext2-1k.img
    ext_sources
    mkext "$img" 16M -t ext2 -b 1024 -I 128
    { common_tree; echo "write src/sparse.bin sparse.bin"; echo "write src/two-mib.bin two-mib.bin"
      for b in $(seq 1 2 40); do echo "punch two-mib.bin $b $b"; done; common_deletions; } | dbg "$img"
    kill_gone "$img"
    finish ext2-1k "$img"
    record_ext_cksums ext2-1k "$img"
}

image_ext2_rev0() {
    local img=$work/ext2-rev0.img
    ext_sources
    mkext "$img" 4M -t ext2 -b 1024 -r 0
    dbg "$img" <<'EOF_CMDS'
write src/hello.txt hello.txt
mkdir folder
write src/small.txt folder/small.txt
write src/medium.txt folder/medium.txt
write src/hello.txt deleted.txt
rm deleted.txt
EOF_CMDS
    finish ext2-rev0 "$img"
    record_ext_cksums ext2-rev0 "$img"
}

image_ext3_4k() {
    local img=$work/ext3-4k.img
    ext_sources
    mkext "$img" 16M -t ext3 -b 4096
    { common_tree; echo "write src/sparse.bin sparse.bin"; common_deletions; } | dbg "$img"
    kill_gone "$img"
    finish ext3-4k "$img"
    record_ext_cksums ext3-4k "$img"
}

image_ext4() {
    local img=$work/ext4.img
    ext_sources
    mkext "$img" 32M -t ext4 -N 16384
    { echo "mkdir htree"
      for i in $(seq 1 10000); do echo "write src/empty.txt htree/file-$i.txt"; done
      echo "write src/hello.txt htree/with-data.txt"; } | dbg "$img"
    e2fsck -fyD "$img" >/dev/null 2>&1 || true  # indexes the big folder (htree)
    { common_tree
      echo "write src/big.bin big.bin"
      echo "write src/medium.txt fallocated.bin"
      echo "fallocate fallocated.bin 100 160"
      echo "set_inode_field fallocated.bin size 700000"
      echo "set_inode_field hello.txt mtime_extra 2000000000"
      echo "rm htree/file-5000.txt"
      common_deletions
    } | dbg "$img"
    kill_gone "$img"
    finish ext4 "$img"
    record_ext_cksums ext4 "$img" '^htree/file-'
}

image_ext4_1k_punched() {
    local img=$work/ext4-1k-punched.img
    ext_sources
    mkext "$img" 8M -t ext4 -b 1024
    { echo "write src/two-mib.bin two-mib.bin"
      for b in $(seq 1 2 2047); do echo "punch two-mib.bin $b $b"; done; } | dbg "$img"
    finish ext4-1k-punched "$img"
    record_ext_cksums ext4-1k-punched "$img"
}

image_ext4_32bit() {
    local img=$work/ext4-32bit.img
    ext_sources
    mkext "$img" 16M -t ext4 -O ^64bit
    { common_tree; common_deletions; } | dbg "$img"
    finish ext4-32bit "$img"
    record_ext_cksums ext4-32bit "$img"
}

image_ext4_inline() {
    local img=$work/ext4-inline.img
    ext_sources
    mkext "$img" 16M -t ext4 -O inline_data -I 256
    dbg "$img" <<'EOF_CMDS'
write src/tiny.txt tiny.txt
write src/inline.txt inline.txt
write src/small.txt small.txt
mkdir small-folder
write src/tiny.txt small-folder/a.txt
write src/tiny.txt small-folder/b.txt
mkdir big-folder
EOF_CMDS
    for i in $(seq 1 40); do echo "write src/tiny.txt big-folder/file-number-$i.txt"; done | dbg "$img"
    finish ext4-inline "$img"
    record_ext_cksums ext4-inline "$img"
}

image_ext4_metabg() {
    local img=$work/ext4-metabg.img
    ext_sources
    # 1 KiB blocks: 17 groups of 8 MiB, 16 descriptors a block, so the last
    # group's descriptor sits in the second meta group; few inodes per group
    # spread the files over every group.
    mkext "$img" 136M -t ext4 -b 1024 -O meta_bg,^resize_inode -N 68
    for i in $(seq 1 56); do echo "write src/hello.txt file-$i.txt"; done | dbg "$img"
    finish ext4-metabg "$img"
    record_ext_cksums ext4-metabg "$img"
}

image_ext4_64k() {
    local img=$work/ext4-64k.img
    ext_sources
    mkext "$img" 48M -t ext4 -b 65536
    { common_tree; common_deletions; } | dbg "$img"
    finish ext4-64k "$img"
    record_ext_cksums ext4-64k "$img"
}

# Written and deleted by the kernel (needs a loop mount; root only): extents
# zeroed and names wiped on deletion; small files and folders inline, their
# tails in the "system.data" attribute.
image_ext4_kernel() {
    local img=$work/ext4-kernel.img mnt=$work/mnt
    if [ "$(id -u)" != 0 ]; then
        echo "keeping the committed ext4-kernel (a loop mount needs root)"
        return 0
    fi
    ext_sources
    mkext "$img" 16M -t ext4 -O inline_data -I 256
    mkdir -p "$mnt"
    mount -o loop "$img" "$mnt"
    mkdir -p "$mnt/docs/sub" "$mnt/trash"
    cp "$work/src/hello.txt" "$mnt/"
    cp "$work/src/small.txt" "$work/src/medium.txt" "$mnt/docs/"
    cp "$work/src/hello.txt" "$mnt/docs/sub/kept.txt"
    gen inline 120 >"$mnt/docs/inline-120.txt"
    for i in $(seq 1 5); do gen "e$i" 10 >"$mnt/docs/sub/entry-$i.txt"; done
    for i in 1 2 3; do cp "$work/src/small.txt" "$mnt/trash/t$i.txt"; done
    cp "$work/src/medium.txt" "$mnt/doomed.txt"
    touch -d "2024-06-01 11:01:00" "$mnt/hello.txt"
    sync
    rm "$mnt/doomed.txt" "$mnt/docs/small.txt"
    rm -r "$mnt/trash"
    umount "$mnt"
    finish ext4-kernel "$img"
    record_ext_cksums ext4-kernel "$img"
}

# TestDisk's view of a damaged copy of a committed disk: its analyse and deeper
# search, run on the disk with the listed sectors zeroed (the partition table and
# primary boot sectors, so that volumes are found from their backups). The view
# keeps the damage and one "kind start sectors block" line per volume it found.
record_testdisk() {  # record_testdisk NAME TABLE_TYPE FIRST[+COUNT]...
    local name=$1 table=$2
    shift 2
    local copy=$work/$name-damaged.img out=$here/$name.testdisk
    xz -dc "$here/$name.img.xz" >"$copy"
    {
        echo "# TestDisk $(testdisk /version 2>/dev/null | sed -n 's/^TestDisk \([0-9.]*\).*/\1/p' | head -1):" \
            "analyse and deeper search of $name.img with these sectors zeroed"
        for range in "$@"; do  # FIRST[+COUNT]
            local first=${range%+*} count=1
            [ "$range" = "$first" ] || count=${range#*+}
            dd if=/dev/zero of="$copy" bs=512 seek="$first" count="$count" conv=notrunc status=none
            echo "zeroed $first $count"
        done
    } >"$out"
    (cd "$work" && rm -f testdisk.log &&
        testdisk /log /cmd "$copy" "partition_$table,analyze,search" >/dev/null 2>&1 || true)
    python3 - "$work/testdisk.log" >>"$out" <<'PY'
import re, sys
log = open(sys.argv[1], encoding="utf-8", errors="replace").read()
heads, sects = map(int, re.search(r"CHS \d+ (\d+) (\d+)", log).groups())
# The last search is the deeper one.
lines = log.rsplit("search_part()", 1)[1].split("interface_write()")[0].splitlines()
kinds = {"FAT16": "FAT16", "FAT32": "FAT32", "NTFS": "NTFS", "exFAT": "exFAT", "ext2": "ext2", "ext3": "ext3", "ext4": "ext4"}
chs = re.compile(r"^\s{5}\S.*?\s(\d+)\s+(\d+)\s+(\d+)\s+\d+\s+\d+\s+\d+\s+(\d+)(\s|$)")
lba = re.compile(r"^\s{5}\S.*?\s(\d+)\s+(\d+)\s+(\d+)(\s|$)")
kept = []
for row, detail in zip(lines, lines[1:]):
    if m := chs.match(row):
        c, h, s, size = map(int, m.groups()[:4])
        start = (c * heads + h) * sects + s - 1
    elif m := lba.match(row):
        start, size = int(m.group(1)), int(m.group(3))
    else:
        continue
    kind = kinds.get(re.split(r"[ ,]", detail.strip())[0])
    block = re.search(r"blocksize=(\d+)", detail)
    if kind is None or block is None:
        continue
    # A volume seen again from its backup boot sector shows as a second volume
    # overlapping the first, of the same kind and size: keep it once.
    if any(k == kind and n == size and a < start + size and start < a + n for k, a, n, _ in kept):
        continue
    kept.append((kind, start, size, block.group(1)))
for kind, start, size, block in kept:
    print(kind, start, size, block)
PY
    echo "recorded $name.testdisk ($(grep -vc '^#\|^zeroed' "$out") volumes)"
}

image_testdisk_views() {
    # MBR: the table, and the first sectors of the FAT32, NTFS and exFAT volumes.
    record_testdisk mbr-mixed i386 0 22528 94208 131072
    # GPT: protective MBR, header and array, and the FAT32 and NTFS boot sectors.
    record_testdisk gpt-mixed gpt 0+34 2048 73728
}

all=(sample_card mbr_fat gpt_fat mbr_mixed gpt_mixed odd_size gpt_4kn exfat_4k exfat_128k carve_samples
     ntfs_4k ntfs_512 ntfs_64k ntfs_many ntfs_reformatted
     fat12_floppy fat12_bigcluster fat16_stick fat32_card fat32_rootmoved fat32_formatted fat32_reclustered
     hfsplus_x512 hfsplus_x2k hfsplus_gen hfsx_gen
     ext2_1k ext2_rev0 ext3_4k ext4 ext4_1k_punched ext4_32bit ext4_inline ext4_metabg ext4_64k ext4_kernel
     testdisk_views)
wanted=("$@")
[ ${#wanted[@]} -gt 0 ] || wanted=("${all[@]}")
for name in "${wanted[@]}"; do
    "image_${name//-/_}"
done
