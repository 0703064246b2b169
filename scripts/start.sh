#!/usr/bin/env sh
# Starts the window from the build tree as you. When you are not root it asks for
# authentication through pkexec as it starts, and its helper opens the drives.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
program="$here/build/scandor"
[ -x "$program" ] || { echo "build/scandor is missing: run ./setup.sh first" >&2; exit 1; }
exec "$program"
