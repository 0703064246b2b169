#!/usr/bin/env bash
# Installs every Debian package the project needs, then builds it.
# Usage: sudo ./setup.sh            (build into ./build)
set -euo pipefail
cd "$(dirname "$0")"

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

PACKAGES=(
  # build
  cmake ninja-build g++ pkg-config
  # window
  qt6-base-dev libgl-dev fonts-liberation fonts-dejavu-core
  # device facts
  libblkid-dev libudev-dev
  # manifests, JSON output, tests
  nlohmann-json3-dev libgtest-dev
  # a comma-separator locale for the number-format tests (localedef sources)
  locales
  # real-device tests: loop devices, partition tables, FUSE, the peer reader
  util-linux fdisk e2fsprogs libfuse3-dev fuse3
  # autostart entries are checked by the validator of the format
  desktop-file-utils
  # screenshots
  xvfb xauth imagemagick
  # SMART pass-through test: an emulated AHCI disk booting Debian's kernel from a busybox initramfs
  qemu-system-x86 linux-image-amd64 busybox-static cpio kmod
  # sanitizer build and the libFuzzer target
  clang libclang-rt-14-dev
)

$SUDO apt-get update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${PACKAGES[@]}"

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
