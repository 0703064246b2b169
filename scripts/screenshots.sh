#!/usr/bin/env bash
# Starts the window under Xvfb and saves a PNG of every page into a folder.
# Usage: scripts/screenshots.sh [OUTDIR] [MANIFEST]
#   OUTDIR    defaults to ./screenshots
#   MANIFEST  a simulated machine (defaults to the demo machine)
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-screenshots}"
manifest="${2:-resources/demo/machine.json}"
mkdir -p "$out"
for bin in build/scandor build/scandor_pages; do
  [ -x "$bin" ] || { echo "build first: cmake --build build"; exit 1; }
done
export SCANDOR_MACHINE="$manifest"
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"

# Every page, rendered by the window itself.
xvfb-run -a -s "-screen 0 1024x768x24" build/scandor_pages "$out"

# The S.M.A.R.T. page of a healthy, a failing and a SCSI drive, a dragged column
# border, and the report.
SCANDOR_MACHINE=resources/demo/smart-machine.json \
  xvfb-run -a -s "-screen 0 1024x768x24" build/scandor_pages "$out" --smart 0 1 2
# The same page for a healthy and a failing NVMe drive.
SCANDOR_MACHINE=resources/demo/nvme-machine.json \
  xvfb-run -a -s "-screen 0 1024x768x24" build/scandor_pages "$out/nvme" --smart 0 1

# The program as it starts, photographed from the X server.
xvfb-run -a -s "-screen 0 720x720x24" bash -c '
  build/scandor & pid=$!
  sleep 3
  import -window root "$0/program-start.png"
  kill $pid' "$out"
ls -1 "$out"
