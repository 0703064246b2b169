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
  # reads in flight
  liburing-dev
  # manifests, JSON output, tests
  nlohmann-json3-dev libgtest-dev
  # metrics tests: the textfile collector, promtool, systemd-analyze, strace (stops a run at its rename)
  prometheus-node-exporter prometheus systemd strace
  # a comma-separator locale for the number-format tests (localedef sources)
  locales
  # real-device tests: loop devices, partition tables, FUSE, the peer reader
  util-linux fdisk e2fsprogs libfuse3-dev fuse3
  # the benchmark's peer reader
  fio
  # autostart entries are checked by the validator of the format
  desktop-file-utils
  # screenshots
  xvfb xauth imagemagick
  # the helper's test with its real parts: the system bus, polkit, pkexec; xdotool clicks the window
  dbus-daemon polkitd pkexec xdotool
  # the program icon's PNGs, rendered from its SVG by scripts/render-icons.sh
  librsvg2-bin
  # SMART pass-through test: an emulated AHCI disk booting Debian's kernel from a busybox initramfs
  qemu-system-x86 linux-image-amd64 busybox-static cpio kmod
  # NVMe admin queries; nvme-cli is the reference the QEMU NVMe test compares against
  libnvme-dev nvme-cli
  # sanitizer build and the libFuzzer target
  clang libclang-rt-14-dev
  # the Debian package and the checks of its contents
  dpkg-dev file lintian appstream man-db
  # the Windows build (scandor-cli.exe) and its tests under Wine
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 googletest
  # SMTP servers of the e-mail tests (the tests run `npm ci` into the build tree)
  python3-aiosmtpd nodejs
)

$SUDO apt-get update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${PACKAGES[@]}"
# NodeSource's nodejs carries npm and conflicts with Debian's npm package, so npm is
# asked for only when nodejs came without it.
command -v npm >/dev/null 2>&1 ||
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends npm

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
