#!/usr/bin/env bash
# The window program against tessarine-cli: the same copy job of the
# 20,000-file tree, both started from the command line with the same
# settings, side by side in one run; and how soon the window is on screen
# after the program starts (under Xvfb).
#   bash bench/bench_window.sh [build-dir]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-$here/../build}" && pwd)"
work=/dev/shm/tessarine-bench-window
runs=${RUNS:-7}
rm -rf "$work" && mkdir -p "$work" && cd "$work"
trap 'rm -rf "$work"' EXIT

python3 "$here/make_tree.py" src 20000 250
echo "tree: $(find src -type f | wc -l) files in $(find src -type d | wc -l) folders, $(du -sh src | cut -f1)"

# One program folder for both programs, so they read the same set.ini: no
# question, copy mode, a fixed destination, nothing opened afterwards.
mkdir -p prog out
cp "$build/bin/tessarine" "$build/bin/tessarine-cli" prog/
cp -r "$build/bin/data" prog/
user="prog/user/$(id -un)"
mkdir -p "$user"
printf '[set]\r\nActMode1=0\r\nMode=0\r\nSelectSaveMode=2\r\nSelectSaveFolderName=%s\r\nOpenFolder=0\r\nNoFileMsg=0\r\n' \
  "$work/out" > "$user/set.ini"

# Whole processes, taken in turns (window, cli, window, ...) so that a
# change in the machine's load hits both alike. Each program also runs the
# same job on an empty folder: that time is what the program costs besides
# the job (start, for the window program its two fixed 500 ms pauses -
# the job starts half a second after start and the window closes half a
# second after the job - and the end), and taking it off leaves the job.
mkdir -p empty
python3 - "$work" "$runs" <<'PY'
import json, os, shutil, subprocess, sys, time
work, runs = sys.argv[1], int(sys.argv[2])
env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
cmds = {
    "cli": [f"{work}/prog/tessarine-cli", f"{work}/src"],
    "window": [f"{work}/prog/tessarine", f"{work}/src"],
    "cli, empty folder": [f"{work}/prog/tessarine-cli", f"{work}/empty"],
    "window, empty folder": [f"{work}/prog/tessarine", f"{work}/empty"],
}
times = {k: [] for k in cmds}
for r in range(runs + 1):  # the first round warms up
    for name, cmd in cmds.items():
        shutil.rmtree(f"{work}/out", ignore_errors=True)
        os.mkdir(f"{work}/out")
        start = time.perf_counter()
        subprocess.run(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        if r:
            times[name].append(time.perf_counter() - start)
json.dump(times, open("copy.json", "w"))
PY

# Time from start until the main window is mapped on the X server, seen
# by a small X client that starts the program and waits for the map event.
cc -O2 -o window_shown "$here/window_shown.c" -lX11
xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
  for i in 1 2 3 4 5 6 7; do ./window_shown Tessarine "'"$work"'/prog/tessarine"; done' > shown.txt 2>/dev/null

python3 - <<'PY'
import json, statistics
t = {k: statistics.median(v) for k, v in json.load(open("copy.json")).items()}
shown = sorted(float(l) for l in open("shown.txt") if l.strip())
cli_job = t["cli"] - t["cli, empty folder"]
win_job = t["window"] - t["window, empty folder"]
print(f"{'what (medians)':46} {'s':>8}")
for k in ("cli", "window", "cli, empty folder", "window, empty folder"):
    print(f"{k + ', whole process':46} {t[k]:8.4f}")
print(f"{'copy job in tessarine-cli':46} {cli_job:8.4f}")
print(f"{'copy job in tessarine (window)':46} {win_job:8.4f}  {win_job / cli_job:5.2f}x tessarine-cli")
print(f"{'window on screen after start':46} {statistics.median(shown):8.4f}  (max {max(shown):.4f}, {len(shown)} runs)")
PY
