#!/usr/bin/env bash
# Collection, list and copy speed against find and cp -a, side by side in one
# run, and peak memory while collecting 200,000 files.
#   bash bench/bench_engine.sh [build-dir]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-$here/../build}" && pwd)"
bench="$build/bench/engine_bench"
work=/dev/shm/tessarine-bench-engine
runs=${RUNS:-7}
rm -rf "$work" && mkdir -p "$work" && cd "$work"
trap 'rm -rf "$work"' EXIT

python3 "$here/make_tree.py" src 20000 250
printf '"2","0","日付フィルタ","0","0"\r\n' > filter.dat
for e in txt c h jpg md; do printf '"1","1","%s","%s",\r\n' "$e" "$e" >> filter.dat; done
echo "tree: $(find src -type f | wc -l) files in $(find src -type d | wc -l) folders, $(du -sh src | cut -f1)"

hyperfine -N --style basic --runs "$runs" --warmup 1 --export-json list.json \
  -n find "find src -type f -fprint list.find" \
  -n "file list" "$bench list src out" \
  -n "file list, 5-extension filter" "$bench list src outf filter.dat" >/dev/null
hyperfine -N --style basic --runs "$runs" --warmup 1 --export-json copy.json \
  --prepare "rm -rf dst out" \
  -n "cp -a" "cp -a src dst" \
  -n "copy job" "$bench copy src out" >/dev/null

python3 - <<'PY'
import json, statistics
def medians(path):
    return {r["command"]: statistics.median(r["times"]) for r in json.load(open(path))["results"]}
l = medians("list.json"); c = medians("copy.json")
print(f"{'what':34} {'median s':>9} {'ratio':>7}")
print(f"{'find -type f > list':34} {l['find']:9.4f}")
print(f"{'collect + file list':34} {l['file list']:9.4f} {l['file list']/l['find']:6.2f}x find")
print(f"{'same, 5-extension filter':34} {l['file list, 5-extension filter']:9.4f} {l['file list, 5-extension filter']/l['file list']:6.2f}x unfiltered")
print(f"{'cp -a':34} {c['cp -a']:9.4f}")
print(f"{'collect + copy':34} {c['copy job']:9.4f} {c['copy job']/c['cp -a']:6.2f}x cp -a")
PY

# Peak memory of collecting (and listing) 200,000 files.
rm -rf src dst out* list.find
python3 - <<'PY'
import os
for d in range(2000):
    p = f"big/d{d // 100:02d}/folder{d:04d}"
    os.makedirs(p)
    for f in range(100):
        open(f"{p}/a-file-with-a-longish-name-{f:03d}.txt", "w").close()
PY
/usr/bin/time -f "%M" -o mem.txt "$bench" list big bigout
echo "peak memory collecting $(wc -l < bigout.txt) files: $(( $(cat mem.txt) / 1024 )) MB"
