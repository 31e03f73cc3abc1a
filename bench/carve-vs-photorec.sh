#!/usr/bin/env bash
# Carving against PhotoRec (Debian package testdisk), side by side on one image:
# noise with planted jpg, png, gif, bmp, pdf and zip files, some fragmented.
#   bench/carve-vs-photorec.sh [SIZE_MIB=2048] [FILES=2000] [FRAGMENTED=100]
set -euo pipefail
cd "$(dirname "$0")/.."
size=${1:-2048} files=${2:-2000} frag=${3:-100}
tw=${TARNWELL:-build/tarnwell}
command -v photorec >/dev/null || { echo "photorec missing: apt-get install testdisk"; exit 2; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
python3 bench/plant-carve-image.py "$tmp/carve.img" "$size" "$files" "$frag" tests/images/carve "$tmp/truth"
cat "$tmp/carve.img" >/dev/null  # into the page cache, for every contender alike

rate() { python3 -c "print('%.0f MB/s' % ($size * 1048576 / 1e6 / $1))"; }
timed() { local s e; s=$(date +%s.%N); "$@" >/dev/null 2>&1 || true; e=$(date +%s.%N); python3 -c "print($e - $s)"; }

t=$(timed cat "$tmp/carve.img")
echo "cat:      $(rate "$t") ($t s)"
t=$(timed "$tw" carve "$tmp/carve.img" --out "$tmp/tarnwell")
echo "tarnwell: $(rate "$t") ($t s); $(python3 bench/score-carve.py "$tmp/truth" "$tmp/tarnwell")"
# PhotoRec writes 500 files a folder, into "DIR.1", "DIR.2", ..., and its log
# into the current folder: all of them are scored.
mkdir -p "$tmp/photorec"
t=$(cd "$tmp" && timed photorec /log /d "$tmp/photorec/recup" /cmd "$tmp/carve.img" \
    partition_none,fileopt,everything,disable,jpg,enable,png,enable,gif,enable,bmp,enable,pdf,enable,zip,enable,search)
echo "photorec: $(rate "$t") ($t s); $(python3 bench/score-carve.py "$tmp/truth" "$tmp/photorec")"
