#!/usr/bin/env bash
# Read speed of the sector reader against dd on the same device, in one run.
# A 2 GiB loop device whose backing file is dropped from the page cache before
# each pass; one pass through ReadSectorBlock (scandor_bench_read), one with
# `dd bs=64k iflag=direct`. Prints both MB/s and their ratio.
# Usage (root): bench/read_speed.sh [build dir]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
BIN="$BUILD/scandor_bench_read"
[ "$(id -u)" -eq 0 ] || { echo "needs root (loop devices)" >&2; exit 1; }
[ -x "$BIN" ] || { echo "build $BIN first (ninja -C $BUILD scandor_bench_read)" >&2; exit 1; }

WORK=$(mktemp -d /var/tmp/scandor-bench-XXXXXX)
LOOP=""
cleanup() {
  [ -n "$LOOP" ] && losetup -d "$LOOP" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

IMG="$WORK/disk.img"
SIZE_MB=2048
# Real blocks on disk (not sparse), so every pass reads the medium.
dd if=/dev/urandom of="$IMG" bs=1M count=$SIZE_MB status=none conv=fsync
LOOP=$(losetup -f --show -r --direct-io=on "$IMG")

uncache() {
  sync
  # The backing file and the loop device, out of the page cache.
  dd if="$IMG" iflag=nocache count=0 status=none
  dd if="$LOOP" iflag=nocache count=0 status=none
  echo 1 > /proc/sys/vm/drop_caches 2>/dev/null || true
}

uncache
read -r BYTES SECS FAILED < <("$BIN" "$LOOP")
[ "$FAILED" = 0 ] || { echo "scandor: $FAILED blocks failed" >&2; exit 1; }
SCANDOR=$(awk -v b="$BYTES" -v s="$SECS" 'BEGIN { printf "%.1f", b / s / 1e6 }')

uncache
START=$(date +%s.%N)
dd if="$LOOP" of=/dev/null bs=64k iflag=direct status=none
END=$(date +%s.%N)
DD=$(awk -v b="$BYTES" -v s="$START" -v e="$END" 'BEGIN { printf "%.1f", b / (e - s) / 1e6 }')

RATIO=$(awk -v a="$SCANDOR" -v b="$DD" 'BEGIN { printf "%.3f", a / b }')
echo "device: $LOOP, $BYTES bytes"
echo "ReadSectorBlock: $SCANDOR MB/s"
echo "dd bs=64k iflag=direct: $DD MB/s"
echo "ratio: $RATIO"
