#!/usr/bin/env bash
# How the window program answers while it copies a large tree: under Xvfb
# with openbox, the first menu is clicked every two seconds during the job
# and the time until its popup is on screen is printed, beside the same
# click on the idle window. A screenshot of each open menu is kept in
# SHOTS (if set) so the repainted progress view can be looked at.
#   bash bench/window_responsive.sh [build-dir]      (FILES=1000000 by default)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-$here/../build}" && pwd)"
files=${FILES:-1000000}
for tool in xvfb-run openbox xdotool xwininfo; do command -v "$tool" > /dev/null || { echo "missing $tool" >&2; exit 1; }; done
work="$(mktemp -d /dev/shm/tessarine-bench-responsive.XXXXXX)"
trap 'rm -rf "$work"' EXIT
cd "$work"
python3 "$here/make_tree.py" tree "$files" "$((files / 100))" 3000
echo "tree: $(find tree -type f | wc -l) files in $(find tree -type d | wc -l) folders"
mkdir -p prog out
cp "$build/bin/tessarine" prog/ && cp -r "$build/bin/data" prog/
mkdir -p "prog/user/$(id -un)"
printf '[set]\r\nActMode1=0\r\nMode=0\r\nSelectSaveMode=2\r\nSelectSaveFolderName=%s\r\nOpenFolder=0\r\nNoFileMsg=0\r\nHiddenFolder=1\r\nHiddenFile=1\r\n' \
  "$work/out" > "prog/user/$(id -un)/set.ini"

cat > probe.sh << 'EOF'
set -u
openbox > /dev/null 2>&1 &
sleep 1
windows() { xwininfo -root -children | grep -c '^ *0x'; }
# Clicks the first menu, waits until a new top-level window (the popup)
# is mapped, prints the milliseconds it took, shoots, closes the menu.
click_menu() {
  local base t0 n
  base=$(windows); t0=$(date +%s%N)
  xdotool mousemove 30 31 click 1
  for _ in $(seq 1 1000); do n=$(windows); [ "$n" -gt "$base" ] && break; sleep 0.005; done
  echo "$1 $(( ($(date +%s%N) - t0) / 1000000 ))"
  sleep 0.2
  if [ -n "${SHOTS:-}" ]; then import -window root "$SHOTS/$1-$2.png"; fi
  xdotool key Escape
}
prog/tessarine > /dev/null 2>&1 & pid=$!
sleep 2
for i in 1 2 3; do click_menu idle "$i"; sleep 0.5; done
kill "$pid"; wait "$pid" 2> /dev/null || true
start=$(date +%s%N)
prog/tessarine tree > /dev/null 2>&1 & pid=$!
sleep 1
i=0
while kill -0 "$pid" 2> /dev/null; do i=$((i + 1)); click_menu busy "$i"; sleep 1.8; done
echo "job $(( ($(date +%s%N) - start) / 1000000 ))"
EOF
[ -n "${SHOTS:-}" ] && mkdir -p "$SHOTS"
xvfb-run -a -s "-screen 0 1280x800x24" bash probe.sh > probe.txt 2> /dev/null
awk '$1 == "idle" || $1 == "busy" { n[$1]++; s[$1] += $2; if ($2 > m[$1]) m[$1] = $2 }
     $1 == "job" { job = $2 }
     END {
       printf "menu popup on screen, idle window: mean %d ms, max %d ms (clicks: %d)\n", s["idle"] / n["idle"], m["idle"], n["idle"]
       printf "menu popup on screen, during the job: mean %d ms, max %d ms (clicks: %d)\n", s["busy"] / n["busy"], m["busy"], n["busy"]
       printf "copy job of the window program (whole process): %.1f s\n", job / 1000
     }' probe.txt
echo "(each figure includes the probe's own xwininfo polling, about 100 ms)"
