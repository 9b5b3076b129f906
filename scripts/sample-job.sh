#!/usr/bin/env bash
# Makes a small sample folder and a dated ZIP of it with tessarine-cli.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
sample="${TMPDIR:-/tmp}/tessarine-sample"
out="${TMPDIR:-/tmp}/tessarine-out"
rm -rf "$sample" && mkdir -p "$sample/docs/日本語" "$out"
echo "hello" > "$sample/readme.txt"
echo "メモ" > "$sample/docs/日本語/memo.txt"
"$here/build/bin/tessarine-cli" --mode zip --dest "$out" "$sample"
