#!/usr/bin/env bash
# Makes Tarnwell's test images with the real tools (mkfs.fat and mtools,
# sfdisk, sgdisk, mke2fs and debugfs) and records The Sleuth Kit's view of each (mmls, fls -r -p).
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
record_icat() {  # record_icat NAME IMAGE [SKIP_REGEX]
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
    record_icat ext2-1k "$img"
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
    record_icat ext2-rev0 "$img"
}

image_ext3_4k() {
    local img=$work/ext3-4k.img
    ext_sources
    mkext "$img" 16M -t ext3 -b 4096
    { common_tree; echo "write src/sparse.bin sparse.bin"; common_deletions; } | dbg "$img"
    kill_gone "$img"
    finish ext3-4k "$img"
    record_icat ext3-4k "$img"
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
    record_icat ext4 "$img" '^htree/file-'
}

image_ext4_1k_punched() {
    local img=$work/ext4-1k-punched.img
    ext_sources
    mkext "$img" 8M -t ext4 -b 1024
    { echo "write src/two-mib.bin two-mib.bin"
      for b in $(seq 1 2 2047); do echo "punch two-mib.bin $b $b"; done; } | dbg "$img"
    finish ext4-1k-punched "$img"
    record_icat ext4-1k-punched "$img"
}

image_ext4_32bit() {
    local img=$work/ext4-32bit.img
    ext_sources
    mkext "$img" 16M -t ext4 -O ^64bit
    { common_tree; common_deletions; } | dbg "$img"
    finish ext4-32bit "$img"
    record_icat ext4-32bit "$img"
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
    record_icat ext4-inline "$img"
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
    record_icat ext4-metabg "$img"
}

image_ext4_64k() {
    local img=$work/ext4-64k.img
    ext_sources
    mkext "$img" 48M -t ext4 -b 65536
    { common_tree; common_deletions; } | dbg "$img"
    finish ext4-64k "$img"
    record_icat ext4-64k "$img"
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
    record_icat ext4-kernel "$img"
}

all=(sample_card mbr_fat gpt_fat ext2_1k ext2_rev0 ext3_4k ext4 ext4_1k_punched ext4_32bit ext4_inline ext4_metabg ext4_64k ext4_kernel)
wanted=("$@")
[ ${#wanted[@]} -gt 0 ] || wanted=("${all[@]}")
for name in "${wanted[@]}"; do
    "image_${name//-/_}"
done
