#!/usr/bin/env bash
# The scan through a descriptor scandor-helper passes back against root's own scan,
# on a 1 GiB read-only loop device over a file in /dev/shm (RAM), so that the
# reader's costs show and not the medium's. The helper is started directly (root
# needs no pkexec); the descriptor travels over its socket as it does under pkexec.
# Passes alternate; the best of RUNS of each is compared. Target ratio: >= 0.97.
# Usage (root): bench/helper_speed.sh [build dir]   (RUNS=5)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
[ "$(id -u)" -eq 0 ] || { echo "needs root (loop devices)" >&2; exit 1; }
for b in scandor_bench_helper scandor-helper; do
  [ -x "$BUILD/$b" ] || { echo "build $BUILD/$b first" >&2; exit 1; }
done
WORK=$(mktemp -d /dev/shm/scandor-bench-XXXXXX)
LOOP=""
cleanup() {
  [ -n "$LOOP" ] && losetup -d "$LOOP" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
dd if=/dev/urandom of="$WORK/disk.img" bs=1M count=1024 status=none
LOOP=$(losetup -f --show -r "$WORK/disk.img")
"$BUILD/scandor_bench_helper" "$(cd "$BUILD" && pwd)/scandor-helper" "$LOOP" "${RUNS:-5}"
