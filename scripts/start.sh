#!/usr/bin/env sh
# Starts the window from the build tree with the rights to open drives: as it is when
# root already, else through sudo (keeping the display's environment, which the
# program does not trust for loading code).
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
program="$here/build/scandor"
[ -x "$program" ] || { echo "build/scandor is missing: run ./setup.sh first" >&2; exit 1; }
if [ "$(id -u)" -eq 0 ]; then
  exec "$program"
elif command -v sudo >/dev/null 2>&1; then
  exec sudo -E "$program"
else
  echo "Opening drives needs root, and sudo is not installed: run this as root." >&2
  exit 1
fi
