#!/usr/bin/env bash
# make-ntfs-image.sh IMAGE FILES : an NTFS volume holding FILES small files in
# folders of 1,000, made by mkntfs and written through an ntfs-3g mount.
set -euo pipefail
img=$1 files=$2
mnt=$(mktemp -d)
cleanup() { mountpoint -q "$mnt" && umount "$mnt"; rmdir "$mnt"; }
trap cleanup EXIT
truncate -s $(( files / 1000 * 2 + 256 ))M "$img"
mkntfs -F -Q -q -c 4096 -s 512 -p 0 -H 255 -S 63 "$img" 2>/dev/null
ntfs-3g "$img" "$mnt"
for ((d = 0; d < files / 1000; d++)); do
    mkdir "$mnt/folder$d"
    (cd "$mnt/folder$d" && for ((i = 0; i < 1000; i++)); do : >"file$i.txt"; done)
done
umount "$mnt"
