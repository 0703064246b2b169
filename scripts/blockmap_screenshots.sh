#!/usr/bin/env bash
# The block map during and after a sector test of a loop device with slow and bad
# ranges (the FUSE test file), rendered under Xvfb. Needs root, /dev/fuse and
# build/tests/scandor_badfile, build/blockmap_shots.
# Usage: scripts/blockmap_screenshots.sh [OUTDIR]   (default: ./screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-screenshots}")
mkdir -p "$out"
for bin in build/tests/scandor_badfile build/blockmap_shots; do
  [ -x "$bin" ] || { echo "build $bin first" >&2; exit 1; }
done
[ "$(id -u)" -eq 0 ] || { echo "needs root (FUSE, loop devices)" >&2; exit 1; }

work=$(mktemp -d)
pid="" loop=""
cleanup() {
  [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null || true
  if [ -n "$pid" ]; then
    fusermount3 -u "$work/mnt" 2>/dev/null || umount -l "$work/mnt" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

B=65536
size=$((256 * 1024 * 1024))            # 4096 blocks: one block a cell
slow="$((500 * B)):$((40 * B)):30"      # a stretch of 30 ms blocks
slow+=",$((1200 * B)):$((12 * B)):120"  # 120 ms
slow+=",$((2000 * B)):1:300,$((2010 * B)):1:300,$((2600 * B)):1:700"
slow+=",$((3300 * B)):$((6 * B)):12"
bad="$((900 * B)):512,$((1800 * B)):$((3 * B)),$((3600 * B)):1"
mkdir -p "$work/mnt"
build/tests/scandor_badfile "$size" "$bad" - "$work/mnt" "--slow=$slow" &
pid=$!
for _ in $(seq 50); do [ -e "$work/mnt/disk" ] && break; sleep 0.1; done
loop=$(losetup -f --show -r --direct-io=on "$work/mnt/disk")
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$work}"
xvfb-run -a -s "-screen 0 1280x760x24" build/blockmap_shots "$loop" "$out" "${DURING_MS:-2500}"
