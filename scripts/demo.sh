#!/usr/bin/env bash
# Runs Tarnwell on the bundled memory-card image: shows its volume, lists its
# files (deleted ones marked) and recovers them into demo-output/.
set -euo pipefail
cd "$(dirname "$0")/.."
tarnwell=${1:-build/tarnwell}
out=demo-output
mkdir -p "$out"
card=$out/sample-card.img
xz -dc tests/images/sample-card.img.xz >"$card"

echo "== The card's volume"
"$tarnwell" volumes "$card"
echo
echo "== Its files (deleted ones marked)"
"$tarnwell" list "$card"
echo
echo "== Recovering everything into $out/recovered"
rm -rf "$out/recovered"
"$tarnwell" recover "$card" --out "$out/recovered"
echo
find "$out/recovered" -type f | sort
