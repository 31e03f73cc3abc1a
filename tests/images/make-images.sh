#!/usr/bin/env bash
# Makes Tarnwell's test images with the real tools (mkfs.fat and mtools,
# mkntfs and ntfs-3g, mke2fs, mkfs.exfat and exfat-fuse, sfdisk, sgdisk) and
# records The Sleuth Kit's view of each (mmls, fls -r -p).
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

all=(sample_card mbr_fat gpt_fat mbr_mixed gpt_mixed odd_size exfat_4k exfat_128k carve_samples
     ntfs_4k ntfs_512 ntfs_64k ntfs_many ntfs_reformatted)
wanted=("$@")
[ ${#wanted[@]} -gt 0 ] || wanted=("${all[@]}")
for name in "${wanted[@]}"; do
    "image_${name//-/_}"
done
