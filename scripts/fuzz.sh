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
jobs=${JOBS:-$(nproc)}
# -O1 with line tables: fast to build, and stack traces still name the line.
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Fuzz \
    -DCMAKE_CXX_FLAGS_FUZZ="-O1 -gline-tables-only" \
    -DTARNWELL_FUZZ=ON -DTARNWELL_TESTS=OFF >/dev/null
# Only the fuzzers: the command line and the GUI add nothing to fuzz.
targets=$(cmake --build "$build" -- -t targets all | sed -n 's|^fuzz/\(fuzz-[a-z0-9-]*\): CXX_EXECUTABLE_LINKER.*|\1|p' | sort -u)
# shellcheck disable=SC2086
cmake --build "$build" -j "$jobs" --target $targets >"$build/build.log" 2>&1 || {
    tail -30 "$build/build.log"
    echo "FAILED to build the fuzzers"
    exit 1
}

corpus=$build/corpus
findings=$build/findings
rm -rf "$corpus"
mkdir -p "$corpus" "$findings"

# seed TARGET FILE...: the first 4 MiB of each file, at most FUZZ_MAX_SEEDS files
# a target (a short run spends its time fuzzing, not unpacking seeds).
max_seeds=${FUZZ_MAX_SEEDS:-1000000}
seed() {
    local target=$1
    shift
    mkdir -p "$corpus/$target"
    for f in "$@"; do
        [ "$(find "$corpus/$target" -type f | wc -l)" -lt "$max_seeds" ] || return 0
        if [ -d "$f" ]; then  # a fixture folder per case (e2fsprogs)
            # shellcheck disable=SC2046
            seed "$target" $(find "$f" -type f -name 'image*')
            continue
        fi
        [ -f "$f" ] || continue
        case "$f" in
            *.txt | *.tsv | *.md) ;;
            *.tar.xz) tar -xJOf "$f" 2>/dev/null | head -c 4194304 >"$corpus/$target/$(basename "$f" .tar.xz)" || true ;;
            *.xz) xz -dc "$f" | head -c 4194304 >"$corpus/$target/$(basename "$f" .xz)" || true ;;
            *.gz) gzip -dc "$f" | head -c 4194304 >"$corpus/$target/$(basename "$(dirname "$f")")-$(basename "$f" .gz)" || true ;;
            *.bz2) bzip2 -dc "$f" | head -c 4194304 >"$corpus/$target/$(basename "$(dirname "$f")")-$(basename "$f" .bz2)" || true ;;
            *) head -c 4194304 "$f" >"$corpus/$target/$(basename "$f")" ;;
        esac
    done
}
fixtures=../shared/fixtures
img=tests/images
seed fuzz-parser-fat12 $img/fat12-*.img.xz $fixtures/dosfstools/* $fixtures/rust-fatfs/*
seed fuzz-parser-fat16 $img/fat16-*.img.xz $fixtures/dosfstools/* $fixtures/rust-fatfs/*
seed fuzz-parser-fat32 $img/fat32-*.img.xz $img/sample-card.img.xz $fixtures/dosfstools/* $fixtures/rust-fatfs/*
seed fuzz-parser-exfat $img/exfat-4k.img.xz $img/exfat-128k.img.xz $fixtures/exfatprogs/*
seed fuzz-parser-ntfs $img/ntfs-*.img.xz $fixtures/ntfs-rs/*
seed fuzz-parser-ext $img/ext*.img.xz $fixtures/e2fsprogs/*
seed fuzz-parser-hfsplus $img/hfs*.img.xz $fixtures/util-linux/*
seed fuzz-advanced-fat16 $img/fat16-stick.img.xz $fixtures/dosfstools/* $fixtures/rust-fatfs/*
seed fuzz-advanced-fat32 $img/fat32-card.img.xz $img/sample-card.img.xz $fixtures/dosfstools/*
seed fuzz-advanced-exfat $img/exfat-4k.img.xz $img/exfat-128k.img.xz $fixtures/exfatprogs/*
seed fuzz-advanced-ntfs $img/ntfs-*.img.xz $fixtures/ntfs-rs/*
seed fuzz-partition $img/mbr-*.img.xz $img/gpt-*.img.xz $img/odd-size.img.xz $fixtures/util-linux/*
seed fuzz-signature-file carve/FileSetting.txt
seed fuzz-carve tests/images/carve/*
seed fuzz-lznt1
seed fuzz-boot-sectors $img/*.img.xz $fixtures/util-linux/images-fs/*.img.xz $fixtures/exfatprogs/bad_* $fixtures/ntfs-rs/*.gz
seed fuzz-table-finder $img/fat*.img.xz $img/exfat-*.img.xz $img/sample-card.img.xz $fixtures/dosfstools/*.damaged.img.gz
# The regression inputs of every target are seeds too, so a fix stays fixed.
for dir in tests/regressions/fuzz-*; do
    [ -d "$dir" ] && seed "$(basename "$dir")" "$dir"/*
done
printf '\x00' >"$corpus/fuzz-lznt1/empty"

# run_target TARGET: fuzz it for $seconds; a line saying how it went.
run_target() {
    local target=$1 name max_len
    name=$(basename "$target")
    mkdir -p "$corpus/$name"
    # Small inputs run hundreds of times faster than whole images, and a volume's
    # structures that matter sit in its first mebibyte.
    case "$name" in
        fuzz-boot-sectors) max_len=16384 ;;  # the tests read the first sectors only
        fuzz-parser-*) max_len=${FUZZ_PARSER_MAX_LEN:-1048576} ;;
        *) max_len=4194304 ;;
    esac
    if ! "$target" "$corpus/$name" -max_total_time="$seconds" -max_len=$max_len -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=2048 \
        -artifact_prefix="$findings/$name-" -print_final_stats=0 >"$build/$name.log" 2>&1; then
        echo "FAILED $name (see $build/$name.log and $findings)"
        return 1
    fi
    echo "ok $name: $(find "$corpus/$name" -type f | wc -l) inputs"
}

# The targets run $jobs at a time; each is single-threaded.
failed=0
only=${FUZZ_ONLY:-}
running=0
# The targets the build defines now: a renamed one's old binary is left alone.
for name in $targets; do
    target=$build/fuzz/$name
    [ -f "$target" ] && [ -x "$target" ] || continue
    [ -z "$only" ] || [[ " $only " == *" $name "* ]] || continue
    if [ "$running" -ge "$jobs" ]; then
        wait -n || failed=1
        running=$((running - 1))
    fi
    run_target "$target" &
    running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
    wait -n || failed=1
    running=$((running - 1))
done
exit $failed
