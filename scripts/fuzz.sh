#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while.
#   scripts/fuzz.sh [SECONDS_EACH=20] [BUILD_DIR=build-fuzz]
# Seeds: the heads of the committed test images and the public fixtures in
# ../shared/fixtures (copied into the corpus at run time, never committed).
# A crash or timeout leaves its input in BUILD_DIR/findings and fails the run;
# make it a regression input beside the test of that decoder.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
build=${2:-build-fuzz}
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARNWELL_FUZZ=ON -DTARNWELL_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null

corpus=$build/corpus
findings=$build/findings
rm -rf "$corpus"
mkdir -p "$corpus" "$findings"

# seed TARGET FILE...: the first 4 MiB of each file.
seed() {
    local target=$1
    shift
    mkdir -p "$corpus/$target"
    for f in "$@"; do
        [ -f "$f" ] || continue
        case "$f" in
            *.txt | *.tsv | *.md) ;;
            *.xz) xz -dc "$f" | head -c 4194304 >"$corpus/$target/$(basename "$f" .xz)" || true ;;
            *.gz) gzip -dc "$f" | head -c 4194304 >"$corpus/$target/$(basename "$f" .gz)" || true ;;
            *) head -c 4194304 "$f" >"$corpus/$target/$(basename "$f")" ;;
        esac
    done
}
fixtures=../shared/fixtures
img=tests/images
seed fuzz-parser-fat12 $img/mbr-fat.img.xz $fixtures/dosfstools/* $fixtures/rust-fatfs/*
seed fuzz-parser-fat16 $img/mbr-fat.img.xz $fixtures/dosfstools/* $fixtures/rust-fatfs/*
seed fuzz-parser-fat32 $img/sample-card.img.xz $fixtures/dosfstools/* $fixtures/rust-fatfs/*
seed fuzz-parser-fat64 $img/exfat-4k.img.xz $img/exfat-128k.img.xz $fixtures/exfatprogs/*
seed fuzz-parser-ntfs $img/ntfs-*.img.xz $fixtures/ntfs-rs/*
seed fuzz-parser-extx $img/ext*.img.xz $fixtures/e2fsprogs/*
seed fuzz-parser-hfs $img/hfs*.img.xz $fixtures/util-linux/*
seed fuzz-advanced-fat16 $img/fat16-stick.img.xz $fixtures/dosfstools/* $fixtures/rust-fatfs/*
seed fuzz-advanced-fat32 $img/fat32-card.img.xz $img/sample-card.img.xz $fixtures/dosfstools/*
seed fuzz-advanced-fat64 $img/exfat-4k.img.xz $img/exfat-128k.img.xz $fixtures/exfatprogs/*
seed fuzz-advanced-ntfs $img/ntfs-*.img.xz $fixtures/ntfs-rs/*
seed fuzz-partition $img/mbr-*.img.xz $img/gpt-*.img.xz $img/odd-size.img.xz $fixtures/util-linux/*
seed fuzz-signature-file raw/FileSetting.txt
seed fuzz-carve tests/images/carve/*
seed fuzz-lznt1
printf '\x00' >"$corpus/fuzz-lznt1/empty"

failed=0
for target in "$build"/fuzz/fuzz-*; do
    name=$(basename "$target")
    mkdir -p "$corpus/$name"
    if ! "$target" "$corpus/$name" -max_total_time="$seconds" -max_len=4194304 -timeout=20 -rss_limit_mb=3000 \
        -artifact_prefix="$findings/$name-" -print_final_stats=0 >"$build/$name.log" 2>&1; then
        echo "FAILED $name (see $build/$name.log and $findings)"
        failed=1
    else
        echo "ok $name: $(grep -c . <(ls "$corpus/$name")) inputs"
    fi
done
exit $failed
