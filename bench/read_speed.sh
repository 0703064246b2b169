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
[ -x "$BIN" ] || { echo "build $BIN first (ninja -C $BUILD scandor_bench_read)" >&2; exit 1; }
. bench/common.sh

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
