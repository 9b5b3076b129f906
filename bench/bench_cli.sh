#!/usr/bin/env bash
# Whole tessarine-cli processes against cp -a and find, side by side in one
# run, on the 20,000-file tree.
#   bash bench/bench_cli.sh [build-dir]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-$here/../build}" && pwd)"
cli="$build/bin/tessarine-cli"
work=/dev/shm/tessarine-bench-cli
runs=${RUNS:-7}
rm -rf "$work" && mkdir -p "$work/out" "$work/user" && cd "$work"
trap 'rm -rf "$work"' EXIT

python3 "$here/make_tree.py" src 20000 250
echo "tree: $(find src -type f | wc -l) files in $(find src -type d | wc -l) folders, $(du -sh src | cut -f1)"
common="--user-folder $work/user --dest $work/out --hidden-folders --hidden-files"

hyperfine -N --style basic --runs "$runs" --warmup 1 --export-json cli.json \
  --prepare "rm -rf $work/out/* $work/dst" \
  -n "cp -a" "cp -a src dst" \
  -n "tessarine-cli copy" "$cli $common --mode copy src" \
  -n "find" "find src -type f -fprint list.find" \
  -n "tessarine-cli filelist" "$cli $common --mode filelist src" >/dev/null

python3 - <<'PY'
import json, statistics
m = {r["command"]: statistics.median(r["times"]) for r in json.load(open("cli.json"))["results"]}
print(f"{'what':28} {'median s':>9} {'ratio':>8}")
print(f"{'cp -a':28} {m['cp -a']:9.4f}")
print(f"{'tessarine-cli --mode copy':28} {m['tessarine-cli copy']:9.4f} {m['tessarine-cli copy']/m['cp -a']:6.2f}x cp -a")
print(f"{'find -type f > list':28} {m['find']:9.4f}")
print(f"{'tessarine-cli --mode filelist':28} {m['tessarine-cli filelist']:9.4f} {m['tessarine-cli filelist']/m['find']:6.2f}x find")
PY
