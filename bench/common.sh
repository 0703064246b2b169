# Shared by the benchmarks: a 2 GiB loop device over a file of random bytes,
# detached and removed on exit, and a way to drop both from the page cache.
# Sets WORK, IMG and LOOP. Source it after `set -euo pipefail`.
[ "$(id -u)" -eq 0 ] || { echo "needs root (loop devices)" >&2; exit 1; }

WORK=$(mktemp -d /var/tmp/scandor-bench-XXXXXX)
LOOP=""
cleanup() {
  [ -n "$LOOP" ] && losetup -d "$LOOP" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

IMG="$WORK/disk.img"
# Real blocks on disk (not sparse), so every pass reads the medium.
dd if=/dev/urandom of="$IMG" bs=1M count=2048 status=none conv=fsync
LOOP=$(losetup -f --show -r --direct-io=on "$IMG")

uncache() {
  sync
  dd if="$IMG" iflag=nocache count=0 status=none
  dd if="$LOOP" iflag=nocache count=0 status=none
  echo 1 > /proc/sys/vm/drop_caches 2>/dev/null || true
}
