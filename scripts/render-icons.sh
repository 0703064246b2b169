#!/usr/bin/env bash
# Renders the program icon's PNGs from its SVG (needs rsvg-convert, Debian's
# librsvg2-bin). The PNGs are committed; run this after changing the SVG.
set -euo pipefail
cd "$(dirname "$0")/../resources/icons/hicolor"
svg=scalable/apps/de.kaveno.Scandor.svg
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "${size}x${size}/apps"
  rsvg-convert -w "$size" -h "$size" "$svg" -o "${size}x${size}/apps/de.kaveno.Scandor.png"
done
ls -1 */apps/de.kaveno.Scandor.*
