#!/usr/bin/env bash
# ZIP and 7z of a copy of /usr/include in /dev/shm: the program's way
# (bench_sevenzip: collection, TFileArchive, lib7-zip32.so, 7zz) against 7zz
# run directly on the same files with the same switches. The runs alternate,
# so both sides see the same machine load; the medians are printed.
#
#   bash bench/sevenzip/run.sh [runs per side, default 3]
# Needs a build in build/ (cmake --build build --target bench_sevenzip).
set -euo pipefail
runs="${1:-3}"
here="$(cd "$(dirname "$0")/../.." && pwd)"
driver="$here/build/bin/bench_sevenzip"
work=/dev/shm/tessarine-bench-sevenzip
trap 'rm -rf "$work"' EXIT
rm -rf "$work" && mkdir -p "$work"
cp -a /usr/include "$work/include"
src="$work/include/"
"$driver" --list "$src" "$work/names"
echo "source: $(du -sh "$src" | cut -f1), $(tr -cd '\0' < "$work/names" | wc -c) files; 7zz $(7zz | sed -n 2p | cut -d' ' -f3)"

# 7zz on the same names, in the same order, with the switches the library uses.
direct() { # type archive
  (cd "$src" && mapfile -d '' -t names < "$work/names" &&
   exec 7zz a "-t$1" -spd -snl -bd -sccUTF-8 -- "$2" "${names[@]}" > /dev/null)
}
through() { # type archive [stack limit in KiB: a lower argument limit, more 7zz calls]
  if [ -n "${3:-}" ]; then (ulimit -s "$3" && "$driver" "$1" "$src" "$2"); else "$driver" "$1" "$src" "$2"; fi
}
seconds() { local t0 t1; t0=$(date +%s.%N); "$@"; t1=$(date +%s.%N); awk "BEGIN { print $t1 - $t0 }"; }
median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

for type in zip 7z; do
  : > "$work/t_direct"; : > "$work/t_through"; : > "$work/t_split"
  for ((i = 1; i <= runs; i++)); do
    rm -f "$work/a.$type"; seconds direct "$type" "$work/a.$type" >> "$work/t_direct"
    size_direct=$(stat -c %s "$work/a.$type")
    rm -f "$work/a.$type"; seconds through "$type" "$work/a.$type" >> "$work/t_through"
    size_through=$(stat -c %s "$work/a.$type")
    # A 128 KiB argument limit: the list goes in several calls.
    rm -f "$work/a.$type"; seconds through "$type" "$work/a.$type" 512 >> "$work/t_split"
  done
  d=$(median < "$work/t_direct"); t=$(median < "$work/t_through"); s=$(median < "$work/t_split")
  printf '%s: 7zz direct %.2f s (%s bytes), through TFileArchive %.2f s (%s bytes) = %.3f x; split (128 KiB argument limit) %.2f s = %.3f x  [runs: %s | %s | %s]\n' \
    "$type" "$d" "$size_direct" "$t" "$size_through" "$(awk "BEGIN { print $t / $d }")" "$s" "$(awk "BEGIN { print $s / $d }")" \
    "$(tr '\n' ' ' < "$work/t_direct")" "$(tr '\n' ' ' < "$work/t_through")" "$(tr '\n' ' ' < "$work/t_split")"
done
