#!/usr/bin/env bash
# What reading the product back (--verify) costs, per job mode: whole
# tessarine-cli runs with and without --verify on a generated tree of
# 5,000 files (random bytes, as make_tree.py makes them) plus 40 MiB of
# compressible text in 40 files, so that the LHA decoder has real work.
# The goal: verifying costs at most as long as making the product.
#   bash bench/bench_verify.sh [build-dir]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-$here/../build}" && pwd)"
cli="$build/bin/tessarine-cli"
work=/dev/shm/tessarine-bench-verify
runs=${RUNS:-5}
rm -rf "$work" && mkdir -p "$work/out" "$work/user" && cd "$work"
trap 'rm -rf "$work"' EXIT

python3 "$here/make_tree.py" src 5000 100
python3 - <<'PY'
import os, random
rng = random.Random(7)
words = "backup folder archive verify header member window block stream copy list".split()
os.makedirs("src/text", exist_ok=True)
for i in range(40):
    with open(f"src/text/log{i:02d}.txt", "w") as f:
        size = 0
        while size < 1 << 20:
            line = f"{i:02d} {rng.randrange(100000):06d} " + " ".join(rng.choice(words) for _ in range(8)) + "\n"
            f.write(line)
            size += len(line)
PY
echo "tree: $(find src -type f | wc -l) files in $(find src -type d | wc -l) folders, $(du -sh src | cut -f1)"
common="--user-folder $work/user --dest $work/out --hidden-folders --hidden-files -q"

args=()
for mode in copy zip 7z lha filelist; do
  args+=(-n "$mode" "$cli $common --mode $mode src")
  args+=(-n "$mode --verify" "$cli $common --verify --mode $mode src")
done
hyperfine -N --style basic --runs "$runs" --warmup 1 --export-json verify.json \
  --prepare "rm -rf $work/out/*" "${args[@]}" >/dev/null

python3 - <<'PY'
import json, statistics
rs = {r["command"]: r for r in json.load(open("verify.json"))["results"]}
wall = {k: statistics.median(r["times"]) for k, r in rs.items()}
# Processor time (user + system, children included) is steadier than the
# wall clock on a shared machine.
cpu = {k: r["user"] + r["system"] for k, r in rs.items()}  # means over the runs
print(f"{'mode':10} {'job s':>8} {'+verify s':>10} {'verify/job':>10}   {'job cpu s':>9} {'+verify cpu':>11} {'verify/job':>10}")
for mode in ["copy", "zip", "7z", "lha", "filelist"]:
    j, b = wall[mode], wall[mode + " --verify"]
    cj, cb = cpu[mode], cpu[mode + " --verify"]
    print(f"{mode:10} {j:8.3f} {b:10.3f} {(b - j) / j:9.2f}x   {cj:9.3f} {cb:11.3f} {(cb - cj) / cj:9.2f}x")
PY
