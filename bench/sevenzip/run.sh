#!/usr/bin/env bash
# ZIP and 7z of a copy of /usr/include in /dev/shm: the program's way
# (bench_sevenzip: collection, TFileArchive, lib7-zip32.so, 7zz) against 7zz
# run directly on the same files with the same switches. The runs alternate,
# so both sides see the same machine load; the medians of the wall time and
# of the processor time (user + system, 7zz included) are printed.
#
#   bash bench/sevenzip/run.sh [build-dir, default build/] [runs per side, default 3] [formats, default "zip 7z"]
# Needs bench_sevenzip built (cmake --build build --target bench_sevenzip).
set -euo pipefail
here="$(cd "$(dirname "$0")/../.." && pwd)"
build="$here/build"
if [ -d "${1:-}" ]; then build="$(cd "$1" && pwd)"; shift; fi
runs="${1:-3}"
formats="${2:-zip 7z}"
driver="$build/bin/bench_sevenzip"
[ -x "$driver" ] || { echo "no $driver (cmake --build $build --target bench_sevenzip)" >&2; exit 1; }
work="$(mktemp -d /dev/shm/tessarine-bench-sevenzip.XXXXXX)"
trap 'rm -rf "$work"' EXIT
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
# Appends "wall cpu" in seconds for one command.
measure() { # file command...
  local file="$1"; shift
  local TIMEFORMAT='%R %U %S'
  { time "$@" 2> /dev/null; } 2> "$work/time"
  awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' "$work/time" >> "$file"
}
median() { # column file
  awk -v c="$1" '{ print $c }' "$2" | sort -g |
    awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

for type in $formats; do
  : > "$work/t_direct"; : > "$work/t_through"; : > "$work/t_split"
  for ((i = 1; i <= runs; i++)); do
    rm -f "$work/a.$type"; measure "$work/t_direct" direct "$type" "$work/a.$type"
    size_direct=$(stat -c %s "$work/a.$type")
    rm -f "$work/a.$type"; measure "$work/t_through" through "$type" "$work/a.$type"
    size_through=$(stat -c %s "$work/a.$type")
    # A 128 KiB argument limit: the list goes in several calls.
    rm -f "$work/a.$type"; measure "$work/t_split" through "$type" "$work/a.$type" 512
  done
  echo "$type ($runs runs each; archive $size_direct bytes direct, $size_through bytes through TFileArchive)"
  for side in direct through split; do
    w=$(median 1 "$work/t_$side"); c=$(median 2 "$work/t_$side")
    # Each run against the direct run just before it, which saw the same load.
    paste -d ' ' "$work/t_$side" "$work/t_direct" | awk '{ print $1 / $3 }' > "$work/pairs"
    printf '  %-8s wall %7.2f s (%s x, paired %.3f x)  cpu %7.2f s (%s x)  runs: %s\n' "$side" "$w" \
      "$(ratio "$w" "$(median 1 "$work/t_direct")")" "$(median 1 "$work/pairs")" \
      "$c" "$(ratio "$c" "$(median 2 "$work/t_direct")")" "$(awk '{ printf "%s ", $1 }' "$work/t_$side")"
  done
done

# What the program's way adds around 7zz: collection, TFileArchive,
# lib7-zip32.so and starting 7zz, with a 7zz that does nothing.
# (It makes the empty archive it is asked for, the path after "--", so that the call succeeds.)
mkdir -p "$work/noop"
printf '#!/bin/sh\nnext=\nfor a; do [ -n "$next" ] && { : > "$a"; break; }; [ "$a" = -- ] && next=1; done\n' \
  > "$work/noop/7zz" && chmod +x "$work/noop/7zz"
: > "$work/t_noop"
for ((i = 1; i <= runs; i++)); do PATH="$work/noop:$PATH" measure "$work/t_noop" through zip "$work/a.zip"; done
printf 'fixed cost around 7zz: wall %.3f s, cpu %.3f s (median of %s)\n' \
  "$(median 1 "$work/t_noop")" "$(median 2 "$work/t_noop")" "$runs"
