#!/usr/bin/env bash
# Every benchmark against its peer, side by side in one run, as one table:
#
#   what | ours (s) | peer (s) | ratio
#
# Each figure is the median of RUNS runs (at least 3); in each round ours
# and the peer run one right after the other, so both see the same load.
# The ratio is the median of the per-round ratios.
#
#   bash bench/run-all.sh [--quick] [build-dir]
#
# Full: a folder of 100,000 files, a tree of 200,000 files in 2,000 folders
# and a copy of /usr/include. --quick: 20,000 files in one folder, 20,000 in
# 250 folders, /usr/include. Everything is made in a folder of its own
# under /dev/shm (several people may run this at once) and removed at the end.
set -euo pipefail
quick=0
if [ "${1:-}" = --quick ]; then quick=1; shift; fi
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-$here/../build}" && pwd)"
bin="$build/bin"
runs=${RUNS:-3}
[ "$runs" -ge 3 ] || runs=3
for tool in 7zz python3; do command -v "$tool" > /dev/null || { echo "missing $tool" >&2; exit 1; }; done
work="$(mktemp -d /dev/shm/tessarine-bench-all.XXXXXX)"
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir -p user out

if [ "$quick" = 1 ]; then flat=20000 treefiles=20000 treefolders=250; else flat=100000 treefiles=200000 treefolders=2000; fi

# A folder of photos as a camera names them: one folder, small files.
python3 - "$flat" <<'PY'
import os, sys
os.makedirs("flat")
block = os.urandom(2048)
for i in range(int(sys.argv[1])):
    with open(f"flat/IMG_{20240000 + i:08d}.JPG", "wb") as f:
        f.write(block[: 200 + i % 1800])
PY
python3 "$here/make_tree.py" tree "$treefiles" "$treefolders"
cp -a /usr/include include
echo "machine: $(nproc) cores, $(uname -r), $(7zz | sed -n 2p | cut -d' ' -f1-3), load $(cut -d' ' -f1-3 /proc/loadavg)"
for t in flat tree include; do
  echo "data $t: $(find $t -type f | wc -l) files in $(find $t -type d | wc -l) folders, $(du -sh $t | cut -f1)"
done

cli() { "$bin/tessarine-cli" --user-folder "$work/user" --dest "$work/out" --hidden-folders --hidden-files \
  --no-filter -q "$@" > /dev/null; }
# 7zz on the whole folder, as a user would run it.
sevenzip() { (cd "$1" && exec 7zz a "-t$2" -snl -bd "$work/out/peer.$2" . > /dev/null); }

seconds() { # command...: prints the wall time in seconds
  local start end
  start=$(date +%s.%N)
  "$@"
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }'
}
median() { sort -g | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }
clean() { rm -rf "$work/out" "$work/peer-copy" "$work/peer.list" && mkdir -p "$work/out"; }

table="$work/table"
: > "$table"
pair() { # what, "ours" command, "peer" command (each a shell function call)
  local what="$1" ours="$2" peer="$3" o p
  : > "$work/o"; : > "$work/p"; : > "$work/r"
  for ((i = 1; i <= runs; i++)); do
    clean; o=$(seconds eval "$ours")
    clean; p=$(seconds eval "$peer")
    echo "$o" >> "$work/o"; echo "$p" >> "$work/p"
    awk -v a="$o" -v b="$p" 'BEGIN { printf "%.4f\n", a / b }' >> "$work/r"
  done
  printf '%s|%s|%s|%s\n' "$what" "$(median < "$work/o")" "$(median < "$work/p")" "$(median < "$work/r")" >> "$table"
  printf '  %-40s ours %s  peer %s\n' "$what" "$(paste -sd' ' "$work/o")" "$(paste -sd' ' "$work/p")" >&2
}

pair "copy, tree: cli vs cp -a" "cli --mode copy tree" "cp -a tree peer-copy"
pair "file list, tree: cli vs find -type f" "cli --mode filelist tree" "find tree -type f -fprint peer.list"
for type in zip 7z; do
  pair "$type, one folder: cli vs 7zz a" "cli --mode $type flat" "sevenzip flat $type"
  pair "$type, tree: cli vs 7zz a" "cli --mode $type tree" "sevenzip tree $type"
  pair "$type, /usr/include: cli vs 7zz a" "cli --mode $type include" "sevenzip include $type"
done
for mode in zip lha; do
  pair "$mode --verify, tree: cli vs without" "cli --verify --mode $mode tree" "cli --mode $mode tree"
done
if command -v jlha > /dev/null; then
  (cd include && find . -type f | sed 's|^\./||' | LC_ALL=C sort) > "$work/include.names"
  jlha_run() { (cd include && xargs -d '\n' -a "$work/include.names" jlha a "$work/out/peer.lzh" > /dev/null); }
  pair "lha, /usr/include: cli vs jlha" "cli --mode lha include" "jlha_run"
else
  echo "lha, /usr/include: cli vs jlha|-|-|- (jlha not installed: apt-get install jlha-utils)" >> "$table"
fi
# The window program against the command-line program, same copy job, same
# settings (fixed destination, no question, nothing opened afterwards).
if [ -x "$bin/tessarine" ]; then
  mkdir -p prog && cp "$bin/tessarine" "$bin/tessarine-cli" prog/ && cp -r "$bin/data" prog/
  mkdir -p "prog/user/$(id -un)"
  printf '[set]\r\nActMode1=0\r\nMode=0\r\nSelectSaveMode=2\r\nSelectSaveFolderName=%s\r\nOpenFolder=0\r\nNoFileMsg=0\r\nHiddenFolder=1\r\nHiddenFile=1\r\n' \
    "$work/out" > "prog/user/$(id -un)/set.ini"
  pair "copy, tree: window vs cli" "QT_QPA_PLATFORM=offscreen prog/tessarine $work/tree > /dev/null 2>&1" \
    "prog/tessarine-cli $work/tree > /dev/null"
fi

echo
echo "$( [ "$quick" = 1 ] && echo quick || echo full ) run, median of $runs paired runs, wall seconds"
{
  echo "what|ours|peer|ratio"
  cat "$table"
} | awk -F'|' '{ printf "%-44s %9s %9s %7s\n", $1, $2, $3, $4 }'
