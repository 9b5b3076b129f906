#!/usr/bin/env bash
# Every benchmark against its peer, side by side in one run, as one table:
#
#   what | ours (s) | peer (s) | ratio | ours MB | peer MB
#
# Each figure is the median of RUNS runs (at least 3); in each round ours
# and the peer run one right after the other, so both see the same load.
# The ratio is the median of the per-round ratios; MB is the peak resident
# memory of the largest process of the run (GNU time's maximum resident set
# size: tessarine-cli or its 7zz, whichever is larger).
#
#   bash bench/run-all.sh [--quick | --million] [build-dir]
#
# ONLY=pattern runs only the rows whose description holds the pattern
# (grep -E), for example ONLY='one folder'.
#
# Full: a folder of 100,000 files, a tree of 200,000 files in 2,000 folders
# and a copy of /usr/include. --quick: 20,000 files in one folder, 20,000 in
# 250 folders, /usr/include. --million: the rows on the tree only, a tree of
# 1,000,000 files in 10,000 folders (about 20 minutes; the tree and its copy
# need some 2.1 million inodes on /dev/shm: `mount -o remount,nr_inodes=12M
# /dev/shm` if df -i shows fewer). Everything is made in a folder of its own
# under /dev/shm (several people may run this at once) and removed at the end.
set -euo pipefail
quick=0
million=0
if [ "${1:-}" = --quick ]; then quick=1; shift; fi
if [ "${1:-}" = --million ]; then million=1; ONLY="${ONLY:-tree: (cli|window) vs}"; shift; fi
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
if [ "$million" = 1 ]; then flat=10 treefiles=1000000 treefolders=10000; fi
# The tree, its copy and the flat folder, each file and folder one inode.
need=$(( (2 * treefiles + 2 * treefolders + flat) * 11 / 10 ))
read -r total free < <(df --output=itotal,iavail /dev/shm | tail -1)
if [ "$total" -gt 0 ] && [ "$free" -lt "$need" ]; then  # 0 in all: no limit
  echo "/dev/shm has $free free inodes, this run needs about $need (mount -o remount,nr_inodes=... /dev/shm)" >&2
  exit 1
fi

# A folder of photos as a camera names them: one folder, small files.
python3 - "$flat" <<'PY'
import os, sys
os.makedirs("flat")
block = os.urandom(2048)
for i in range(int(sys.argv[1])):
    with open(f"flat/IMG_{20240000 + i:08d}.JPG", "wb") as f:
        f.write(block[: 200 + i % 1800])
PY
# Small files (at most 3,000 bytes), so that the count of files, not
# compression, sets the pace.
python3 "$here/make_tree.py" tree "$treefiles" "$treefolders" 3000
cp -a /usr/include include
echo "machine: $(nproc) cores, $(uname -r), $(7zz | sed -n 2p | cut -d' ' -f1-3), load $(cut -d' ' -f1-3 /proc/loadavg)"
for t in flat tree include; do
  echo "data $t: $(find $t -type f | wc -l) files in $(find $t -type d | wc -l) folders, $(du -sh $t | cut -f1)"
done

cli() { "$bin/tessarine-cli" --user-folder "$work/user" --dest "$work/out" --hidden-folders --hidden-files \
  --no-filter -q "$@" > /dev/null; }
# 7zz on the whole folder, as a user would run it.
sevenzip() { (cd "$1" && exec 7zz a "-t$2" -snl -bd "$work/out/peer.$2" . > /dev/null); }

export work bin
export -f cli sevenzip
measure() { # command line: prints its wall time in seconds and its peak memory in MB
  /usr/bin/time -f '%e %M' -o "$work/time" bash -c "$1" || true
  awk '{ printf "%.3f %.0f\n", $1, $2 / 1024 }' "$work/time"
}
median() { sort -g | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }
clean() { rm -rf "$work/out" "$work/peer-copy" "$work/peer.list" && mkdir -p "$work/out"; }

table="$work/table"
: > "$table"
# pair what ours peer [ours-baseline peer-baseline]: each a command line,
# run with eval. The baselines, when given, run in the same round and their
# time is taken off (what a program costs besides the job).
pair() {
  local what="$1" ours="$2" peer="$3" o p
  if [ -n "${ONLY:-}" ] && ! grep -Eq "$ONLY" <<< "$what"; then return; fi
  local om pm
  : > "$work/o"; : > "$work/p"; : > "$work/r"; : > "$work/om"; : > "$work/pm"
  for ((i = 1; i <= runs; i++)); do
    clean; read -r o om < <(measure "$ours")
    clean; read -r p pm < <(measure "$peer")
    if [ -n "${4:-}" ]; then
      clean; o=$(awk -v a="$o" -v b="$(measure "$4" | cut -d' ' -f1)" 'BEGIN { printf "%.3f", a - b }')
      clean; p=$(awk -v a="$p" -v b="$(measure "$5" | cut -d' ' -f1)" 'BEGIN { printf "%.3f", a - b }')
    fi
    echo "$o" >> "$work/o"; echo "$p" >> "$work/p"; echo "$om" >> "$work/om"; echo "$pm" >> "$work/pm"
    awk -v a="$o" -v b="$p" 'BEGIN { printf "%.4f\n", a / b }' >> "$work/r"
  done
  printf '%s|%s|%s|%.2f|%s|%s\n' "$what" "$(median < "$work/o")" "$(median < "$work/p")" "$(median < "$work/r")" \
    "$(median < "$work/om")" "$(median < "$work/pm")" >> "$table"
  printf '  %-44s ours %s  peer %s\n' "$what" "$(paste -sd' ' "$work/o")" "$(paste -sd' ' "$work/p")" >&2
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
  export -f jlha_run
  pair "lha, /usr/include: cli vs jlha" "cli --mode lha include" "jlha_run"
elif [ -z "${ONLY:-}" ] || grep -Eq "$ONLY" <<< "lha, /usr/include: cli vs jlha"; then
  echo "lha, /usr/include: cli vs jlha (jlha-utils not installed)|-|-|-|-|-" >> "$table"
fi
# The window program against the command-line program, same copy job, same
# settings (fixed destination, no question, nothing opened afterwards).
if [ -x "$bin/tessarine" ]; then
  mkdir -p prog && cp "$bin/tessarine" "$bin/tessarine-cli" prog/ && cp -r "$bin/data" prog/
  mkdir -p "prog/user/$(id -un)"
  printf '[set]\r\nActMode1=0\r\nMode=0\r\nSelectSaveMode=2\r\nSelectSaveFolderName=%s\r\nOpenFolder=0\r\nNoFileMsg=0\r\nHiddenFolder=1\r\nHiddenFile=1\r\n' \
    "$work/out" > "prog/user/$(id -un)/set.ini"
  # Each less the same program on an empty folder: the window program
  # waits half a second before the job and half a second after it.
  mkdir -p empty
  window() { QT_QPA_PLATFORM=offscreen "$work/prog/tessarine" "$work/$1" > /dev/null 2>&1; }
  export -f window
  pair "copy, tree: window vs cli (less start-up)" "window tree" "$work/prog/tessarine-cli -q $work/tree > /dev/null" \
    "window empty" "$work/prog/tessarine-cli -q $work/empty > /dev/null 2>&1"
fi

echo
echo "$( [ "$quick" = 1 ] && echo quick || { [ "$million" = 1 ] && echo million; } || echo full ) run, median of $runs paired runs, wall seconds"
{
  echo "what|ours s|peer s|ratio|ours MB|peer MB"
  cat "$table"
} | awk -F'|' '{ printf "%-52s %8s %8s %6s %8s %8s\n", $1, $2, $3, $4, $5, $6 }'
