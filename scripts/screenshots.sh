#!/usr/bin/env bash
# Takes the README's screenshots of the main window under Xvfb: the
# copy/compress view, the registered-folder view with its popup menu, and the
# progress view during a copy job. Needs xvfb, xdotool, imagemagick and
# fonts-noto-cjk (scripts/setup-debian.sh installs them).
#   bash scripts/screenshots.sh [program folder] [output folder]
set -euo pipefail
BIN=$(realpath "${1:-build/bin}")
OUT=$(realpath "${2:-docs}")
mkdir -p "$OUT"
WORK=$(mktemp -d /dev/shm/ts.XXXX)
trap 'rm -rf "$WORK"' EXIT

# A program folder of its own with a prepared user.
PROG=$WORK/prog
mkdir -p "$PROG"
cp -r "$BIN"/data "$PROG"/
cp "$BIN"/tessarine "$PROG"/
for f in lib7-zip32.so lib7zz-guard.so libunlha32.so 7zz; do [ -e "$BIN/$f" ] && cp "$BIN/$f" "$PROG"/; done
USERDIR=$PROG/user/$(id -un)
mkdir -p "$USERDIR/data" "$WORK/dest" "$WORK/プロジェクト資料" "$WORK/写真"
cp "$BIN"/data/*.dat "$USERDIR/data/"
printf '[set]\r\nPosX=0\r\nPosY=0\r\nActMode1=0\r\nSelectSaveMode=2\r\nSelectSaveFolderName=%s\r\nOpenFolder=0\r\nSelectFileName=ドキュメント\r\nMode=0\r\n' \
  "$WORK/dest" > "$USERDIR/set.ini"
printf '"1","プロジェクト資料","プロジェクト資料","ドキュメント","%s/",\r\n"1","写真","写真","画像","%s/",\r\n"1","ホーム","home","","%s/",\r\n' \
  "$WORK/プロジェクト資料" "$WORK/写真" "$HOME" > "$USERDIR/folderlist.dat"

# A tree large enough that the copy is still running when the shots are
# taken: 120,000 empty files in 120 folders.
python3 - "$WORK/資料" <<'PY'
import os, sys
for d in range(120):
    folder = os.path.join(sys.argv[1], f"フォルダ{d:03d}")
    os.makedirs(folder)
    for f in range(1000):
        open(os.path.join(folder, f"file{f:04d}.txt"), "w").close()
PY

export PROG OUT WORK
xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
  set -euo pipefail
  shot() {  # crops the root window to the main window
    local id
    id=$(xdotool search --onlyvisible --name "^Tessarine$" | head -1)
    [ -n "$id" ] || return 1
    eval "$(xdotool getwindowgeometry --shell "$id")"
    import -window root -crop "${WIDTH}x${HEIGHT}+$X+$Y" "$1"
  }
  "$PROG/tessarine" & pid=$!
  sleep 2
  xdotool search --sync --onlyvisible --name "^Tessarine$" >/dev/null
  shot "$OUT/window-copy.png"
  id=$(xdotool search --onlyvisible --name "^Tessarine$" | head -1)
  # The label "登録フォルダ" sits to the right of "コピー / 圧縮" in the top bar.
  eval "$(xdotool getwindowgeometry --shell "$id")"
  xdotool mousemove $((X + 160)) $((Y + 45)) click 1
  sleep 0.5
  shot "$OUT/window-folders.png"
  xdotool mousemove $((X + 120)) $((Y + 110)) click 1
  sleep 0.2
  xdotool mousemove $((X + 120)) $((Y + 110)) click 3
  sleep 0.5
  shot "$OUT/window-folders-menu.png"
  xdotool key Escape
  kill $pid; wait $pid 2>/dev/null || true

  # The progress view: a command-line copy of the whole large tree.
  sed -i "s/^SelectFileName=.*/SelectFileName=/" "$(dirname "$PROG")/prog/user/$(id -un)/set.ini"
  "$PROG/tessarine" "$WORK/資料" & pid=$!
  i=0
  while kill -0 $pid 2>/dev/null && [ $i -lt 200 ]; do
    i=$((i + 1))
    shot "$WORK/progress-$(printf %03d $i).png" 2>/dev/null || sleep 0.05
  done
  wait $pid 2>/dev/null || true
'
# The frames taken during the job; the README's window-progress.png is one
# of them, picked by eye.
FRAMES=${FRAMES:-/tmp/tessarine-progress-frames}
rm -rf "$FRAMES" && mkdir -p "$FRAMES"
cp "$WORK"/progress-*.png "$FRAMES"/ 2>/dev/null || true
echo "progress frames in $FRAMES"
