#!/bin/bash
# Screenshots of every dialog into docs/, taken on a virtual X display with
# the Noto CJK fonts (Debian: xvfb, imagemagick, fonts-noto-cjk).
#   scripts/dialog-screenshots.sh [build folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
mkdir -p "$root/docs"
export TESSARINE_BIN_DIR=$build/bin
for name in settings folders folders-menu filters filters-menu filter-select about confirm error; do
  xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
    "$0" "$1" > /tmp/gallery-size.$$ &
    sleep 2
    import -window root /tmp/gallery-shot.$$.png
    wait
    size=$(tail -n 1 /tmp/gallery-size.$$)
    convert /tmp/gallery-shot.$$.png -crop "${size}+0+0" +repage "$2"
    rm -f /tmp/gallery-shot.$$.png /tmp/gallery-size.$$
  ' "$build/tests/dialog_gallery" "$name" "$root/docs/dialog-$name.png"
  echo "docs/dialog-$name.png"
done
