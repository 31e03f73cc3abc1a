#!/usr/bin/env bash
# Writes carve/FileSetting.txt, the default signature list, with `tarnwell signatures add`.
#   scripts/make-default-signatures.sh [path/to/tarnwell]
set -euo pipefail
cd "$(dirname "$0")/.."
tw=${1:-build/tarnwell}
out=carve/FileSetting.txt
tmp=$(mktemp)
rm -f "$tmp"
add() { "$tw" signatures add "$tmp" "$@" >/dev/null; }
MB=1048576
# Pictures: walked to their structure's end (JPEG markers, PNG chunks, GIF blocks, BMP size).
add --ext jpg  --start 0xFF,0xD8,0xFF --end 0xFF,0xD9 --approx $((40 * MB)) --category Pictures
add --ext png  --start 0x89,0x50,0x4E,0x47,0x0D,0x0A,0x1A,0x0A --end 0x49,0x45,0x4E,0x44,0xAE,0x42,0x60,0x82 --approx $((60 * MB)) --category Pictures
add --ext gif  --start 0x47,0x49,0x46,0x38 --end 0x00,0x3B --approx $((20 * MB)) --category Pictures
add --ext bmp  --start 0x42,0x4D --size-offset 2 --size-bytes 4 --size-includes-header --approx $((100 * MB)) --category Pictures
# Camera raw before TIFF, whose header it shares.
add --ext cr2  --start 0x49,0x49,0x2A,0x00,0x10,0x00,0x00,0x00,0x43,0x52 --approx $((40 * MB)) --skip $((4 * MB)) --category "Camera RAW"
add --ext tif  --start 0x49,0x49,0x2A,0x00 --approx $((30 * MB)) --skip $((1 * MB)) --category Pictures
add --ext tif  --start 0x4D,0x4D,0x00,0x2A --approx $((30 * MB)) --skip $((1 * MB)) --category Pictures
# Documents and archives: PDF to its last %%EOF, ZIP (and the Office formats inside) to its end record.
add --ext pdf  --start 0x25,0x50,0x44,0x46,0x2D --end 0x25,0x25,0x45,0x4F,0x46 --approx $((200 * MB)) --category Documents
add --ext zip  --start 0x50,0x4B,0x03,0x04 --end 0x50,0x4B,0x05,0x06 --approx $((500 * MB)) --category Archives
add --ext doc  --start 0xD0,0xCF,0x11,0xE0,0xA1,0xB1,0x1A,0xE1 --approx $((20 * MB)) --category Documents
add --ext rtf  --start 0x7B,0x5C,0x72,0x74,0x66,0x31 --end 0x7D,0x00 --approx $((10 * MB)) --category Documents
add --ext rar  --start 0x52,0x61,0x72,0x21,0x1A,0x07 --approx $((200 * MB)) --skip $((1 * MB)) --category Archives
add --ext 7z   --start 0x37,0x7A,0xBC,0xAF,0x27,0x1C --approx $((200 * MB)) --skip $((1 * MB)) --category Archives
# Audio and video: RIFF and AIFF carry their size; the rest are cut at an approximate size.
add --ext wav  --start 0x52,0x49,0x46,0x46,0x2A,0x2A,0x2A,0x2A,0x57,0x41 --size-offset 4 --size-bytes 4 --header-size 8 --approx $((2048 * MB)) --category Audio
add --ext avi  --start 0x52,0x49,0x46,0x46,0x2A,0x2A,0x2A,0x2A,0x41,0x56 --size-offset 4 --size-bytes 4 --header-size 8 --approx $((4096 * MB)) --category Video
add --ext mp3  --start 0x49,0x44,0x33 --approx $((10 * MB)) --skip $((1 * MB)) --category Audio
add --ext flac --start 0x66,0x4C,0x61,0x43 --approx $((60 * MB)) --skip $((1 * MB)) --category Audio
add --ext ogg  --start 0x4F,0x67,0x67,0x53,0x00,0x02 --approx $((20 * MB)) --skip $((1 * MB)) --category Audio
add --ext mp4  --start 0x00,0x00,0x00,0x2A,0x66,0x74,0x79,0x70 --approx $((500 * MB)) --skip $((4 * MB)) --category Video
add --ext mkv  --start 0x1A,0x45,0xDF,0xA3 --approx $((500 * MB)) --skip $((4 * MB)) --category Video
mv "$tmp" "$out"
"$tw" signatures list "$out"
