#!/usr/bin/env bash
# libunlha32.so against jlha (Debian jlha-utils, a Java LHA archiver) on a
# copy of /usr/include in /dev/shm, side by side in one run:
#   - wall time of making the archive (hyperfine, median of RUNS runs each),
#   - archive size,
#   - single-core throughput of the -lh5- encoder alone (median of RUNS).
# Both archivers get the same regular files, named relative to the copy.
# jlha is run as `jlha a <archive> <files...>`: its default method is -lh5-
# with level-2 headers.
# Usage: bench/lha/run_lha_bench.sh [build folder] [runs]
set -euo pipefail
BUILD=$(realpath "${1:-build}")
RUNS=${2:-3}
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=/dev/shm/tessarine-lha-bench
for tool in jlha hyperfine lhasa bsdtar; do
  command -v "$tool" >/dev/null || { echo "missing $tool (apt-get install jlha-utils hyperfine lhasa libarchive-tools)"; exit 1; }
done
cmake --build "$BUILD" --target unlha32 unlha_run lh5_throughput >/dev/null
trap 'rm -rf "$WORK"' EXIT
rm -rf "$WORK" && mkdir -p "$WORK"
cp -a /usr/include "$WORK/include"
(cd "$WORK/include" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) > "$WORK/list.txt"
BYTES=$(cd "$WORK/include" && tr '\n' '\0' < "$WORK/list.txt" | xargs -0 cat | wc -c)
echo "data: $(wc -l < "$WORK/list.txt") files, $((BYTES / 1000000)) MB in $WORK/include"
echo "machine: $(nproc) cores, $(uname -r), load $(cut -d' ' -f1-3 /proc/loadavg)"

OURS="$BUILD/bench/unlha_run $BUILD/bin/libunlha32.so $WORK/ours.lzh $WORK/include/ $WORK/list.txt"
JLHA="cd $WORK/include && xargs -d '\n' -a $WORK/list.txt jlha a $WORK/jlha.lzh > /dev/null"
hyperfine --runs "$RUNS" --export-json "$WORK/times.json" \
  --prepare "rm -f $WORK/ours.lzh" --prepare "rm -f $WORK/jlha.lzh" \
  -n libunlha32 "$OURS" -n jlha "$JLHA"

# Both archives must hold every file intact.
for a in ours jlha; do
  n=$(bsdtar -tf "$WORK/$a.lzh" | wc -l)
  [ "$n" -eq "$(wc -l < "$WORK/list.txt")" ] || { echo "$a.lzh lists $n members"; exit 1; }
done
sums() { (cd "$1" && tr '\n' '\0' < "$WORK/list.txt" | xargs -0 md5sum); }
mkdir "$WORK/check" && (cd "$WORK/check" && lhasa -xq "$WORK/ours.lzh") \
  && [ "$(sums "$WORK/include")" = "$(sums "$WORK/check")" ] || { echo "ours.lzh does not extract to the source"; exit 1; }
rm -rf "$WORK/check"

python3 - "$WORK/times.json" "$(stat -c %s "$WORK/ours.lzh")" "$(stat -c %s "$WORK/jlha.lzh")" <<'PY'
import json, sys
times = {r["command"]: r["median"] for r in json.load(open(sys.argv[1]))["results"]}
ours, jlha = int(sys.argv[2]), int(sys.argv[3])
print(f"archive size: libunlha32 {ours:,} B, jlha {jlha:,} B ({ours / jlha:.3f} x)")
print(f"wall time (median): libunlha32 {times['libunlha32']:.2f} s, jlha {times['jlha']:.2f} s "
      f"({times['libunlha32'] / times['jlha']:.3f} x)")
PY
(cd "$WORK/include" && sed "s|^|$WORK/include/|" "$WORK/list.txt" | taskset -c 0 "$BUILD/bench/lh5_throughput" "$RUNS") \
  | sed 's/^/encoder alone, one core: /'
