#!/usr/bin/env bash
# Installs every Debian package Tarnwell needs to build, test and make its test images.
# Safe to run again: packages already present are left as they are.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config git python3
  libcli11-dev nlohmann-json3-dev libgtest-dev libgmock-dev zlib1g-dev
  libewf-dev libvhdi-dev libvmdk-dev libqcow-dev nettle-dev
  # fuzzing (libFuzzer with clang)
  clang libfuzzer-14-dev
  # benchmarks (peak memory)
  time
  # the Debian package
  dpkg-dev fakeroot help2man lintian bash-completion
  # GUI
  qt6-base-dev qt6-base-dev-tools libgl-dev xvfb
  # test images and reference tools
  dosfstools mtools exfatprogs exfat-fuse ntfs-3g e2fsprogs sleuthkit
  gdisk fdisk xorriso hfsplus xz-utils imagemagick zip ewf-tools qemu-utils attr testdisk gddrescue
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
