#!/usr/bin/env bash
# Reads in flight against the peers, on a 2 GiB loop device whose backing file
# lives in /dev/shm (RAM), so the device is as fast as memory and every cost of
# the reader shows. Passes alternate between the contenders and the best of RUNS
# passes each is compared (the machine is shared and noisy).
#   scandor-cli surface       vs  dd bs=1M iflag=direct
#   the window's sector test  vs  scandor-cli surface
#   scandor-cli surface       vs  fio, sequential 64 KiB reads, depth 1 and 32
#   scandor-cli at several --queue-depth values (how the default was chosen)
# Peak memory of scandor-cli on 64 MiB and on 2 GiB (with /usr/bin/time).
# Usage (root): bench/inflight_speed.sh [build dir]   (RUNS=6 DEPTHS="1 4 8 16 32 64")
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
CLI="$BUILD/scandor-cli"
WINDOW="$BUILD/scandor_bench_window"
RUNS=${RUNS:-6}
DEPTHS=${DEPTHS:-"1 4 8 16 32 64"}
[ "$(id -u)" -eq 0 ] || { echo "needs root (loop devices)" >&2; exit 1; }
[ -x "$CLI" ] || { echo "build $CLI first" >&2; exit 1; }

WORK=$(mktemp -d /dev/shm/scandor-bench-XXXXXX)
LOOP="" SMALL=""
cleanup() {
  [ -n "$LOOP" ] && losetup -d "$LOOP" 2>/dev/null || true
  [ -n "$SMALL" ] && losetup -d "$SMALL" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
dd if=/dev/urandom of="$WORK/disk.img" bs=1M count=2048 status=none
dd if=/dev/urandom of="$WORK/small.img" bs=1M count=64 status=none
# tmpfs takes no O_DIRECT, so the loop device reads its pages itself; the reads
# through the loop device are still unbuffered.
LOOP=$(losetup -f --show -r "$WORK/disk.img")
SMALL=$(losetup -f --show -r "$WORK/small.img")
BYTES=$(blockdev --getsize64 "$LOOP")
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$WORK}

now() { date +%s.%N; }
mbs() { awk -v b="$BYTES" -v s="$1" 'BEGIN { printf "%.0f", b / s / 1e6 }'; }
best() { printf '%s\n' "$@" | sort -n | tail -1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

cli() {  # MB/s of one scandor-cli pass; extra arguments go to the command
  local t0 t1 code=0
  t0=$(now)
  "$CLI" surface "$LOOP" "$@" >/dev/null 2>&1 || code=$?
  t1=$(now)
  [ "$code" = 0 ] || { echo "scandor-cli exited $code" >&2; exit 1; }
  mbs "$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')"
}
dd1m() {
  local t0 t1
  t0=$(now)
  dd if="$LOOP" of=/dev/null bs=1M iflag=direct status=none
  t1=$(now)
  mbs "$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')"
}
window() {
  local bytes secs failed
  read -r bytes secs failed < <("$WINDOW" "$LOOP" 2>/dev/null)
  [ "$failed" = 0 ] || { echo "window: $failed blocks failed" >&2; exit 1; }
  mbs "$secs"
}
fio_qd() {
  fio --name=seq --filename="$LOOP" --readonly --rw=read --bs=64k --direct=1 --ioengine=io_uring \
      --iodepth="$1" --output-format=json 2>/dev/null |
    python3 -c 'import json,sys; print(round(json.load(sys.stdin)["jobs"][0]["read"]["bw_bytes"] / 1e6))'
}

echo "device: $LOOP ($BYTES bytes, backing file in /dev/shm), best of $RUNS passes"
C=() D=()
for ((i = 0; i < RUNS; i++)); do
  if ((i % 2 == 0)); then C+=("$(cli)"); D+=("$(dd1m)"); else D+=("$(dd1m)"); C+=("$(cli)"); fi
done
CB=$(best "${C[@]}"); DB=$(best "${D[@]}")
echo "scandor-cli surface MB/s: ${C[*]} (best $CB)"
echo "dd bs=1M iflag=direct MB/s: ${D[*]} (best $DB)"
echo "ratio scandor-cli / dd bs=1M: $(ratio "$CB" "$DB")"

if [ -x "$WINDOW" ]; then
  W=() C2=()
  for ((i = 0; i < RUNS; i++)); do
    if ((i % 2 == 0)); then W+=("$(window)"); C2+=("$(cli)"); else C2+=("$(cli)"); W+=("$(window)"); fi
  done
  WB=$(best "${W[@]}"); C2B=$(best "${C2[@]}")
  echo "window sector test MB/s: ${W[*]} (best $WB)"
  echo "scandor-cli surface MB/s: ${C2[*]} (best $C2B)"
  echo "ratio window / scandor-cli: $(ratio "$WB" "$C2B")"
fi

if command -v fio >/dev/null; then
  F1=() F32=()
  for ((i = 0; i < RUNS / 2 + 1; i++)); do F1+=("$(fio_qd 1)"); F32+=("$(fio_qd 32)"); done
  F1B=$(best "${F1[@]}"); F32B=$(best "${F32[@]}")
  echo "fio 64k sequential, depth 1 MB/s: ${F1[*]} (best $F1B)"
  echo "fio 64k sequential, depth 32 MB/s: ${F32[*]} (best $F32B)"
  echo "ratio scandor-cli / fio depth 1: $(ratio "$CB" "$F1B")"
  echo "ratio scandor-cli / fio depth 32: $(ratio "$CB" "$F32B")"
fi

for d in $DEPTHS; do
  R=()
  for ((i = 0; i < 3; i++)); do R+=("$(cli --queue-depth "$d")"); done
  echo "scandor-cli --queue-depth $d MB/s: ${R[*]} (best $(best "${R[@]}"))"
done

if [ -x /usr/bin/time ]; then
  for dev in "$SMALL" "$LOOP"; do
    /usr/bin/time -f '%M' -o "$WORK/mem" "$CLI" surface "$dev" >/dev/null 2>&1 || true
    kb=$(tail -1 "$WORK/mem")
    echo "scandor-cli peak memory on $(blockdev --getsize64 "$dev") bytes: $kb KiB"
  done
fi
