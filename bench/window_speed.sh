#!/usr/bin/env bash
# Speed of the sector test driven by the window (offscreen) against the bare
# sector reader on the same 2 GiB loop device, in one run. The backing file is
# dropped from the page cache before every pass; the passes alternate (reader,
# window, window, reader, ...) so neither profits from its place, and the
# medians of PAIRS passes each are compared (the host disk is noisy).
# Usage (root): bench/window_speed.sh [build dir]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
READER="$BUILD/scandor_bench_read"
WINDOW="$BUILD/scandor_bench_window"
for b in "$READER" "$WINDOW"; do [ -x "$b" ] || { echo "build $b first" >&2; exit 1; }; done
. bench/common.sh
pass() {  # prints MB/s
  uncache
  read -r BYTES SECS FAILED < <(XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$WORK} "$1" "$LOOP" 2>/dev/null)
  [ "$FAILED" = 0 ] || { echo "$1: $FAILED blocks failed" >&2; exit 1; }
  awk -v b="$BYTES" -v s="$SECS" 'BEGIN { printf "%.1f", b / s / 1e6 }'
}

PAIRS=${PAIRS:-3}
RS=(); WS=()
for ((i = 0; i < PAIRS; i++)); do
  if ((i % 2 == 0)); then RS+=("$(pass "$READER")"); WS+=("$(pass "$WINDOW")")
  else WS+=("$(pass "$WINDOW")"); RS+=("$(pass "$READER")"); fi
done
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
R=$(median "${RS[@]}"); W=$(median "${WS[@]}")
echo "device: $LOOP (2 GiB)"
echo "bare sector reader MB/s: ${RS[*]} (median $R)"
echo "window surface test MB/s: ${WS[*]} (median $W)"
echo "ratio window/reader: $(awk -v a="$W" -v b="$R" 'BEGIN { printf "%.3f", a / b }')"
