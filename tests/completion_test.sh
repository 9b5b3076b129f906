#!/usr/bin/env bash
# bash completion of tessarine-cli: modes, options, and the filter names of
# the user's data folder (a relative XDG_DATA_HOME does not count, as in the
# program).
#   completion_test.sh COMPLETION_FILE
set -uo pipefail
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
login=$(id -un)
mkdir -p "$home/.local/share/tessarine/user/$login/data" "$home/other/data"
touch "$home/.local/share/tessarine/user/$login/data/画像.dat" "$home/.local/share/tessarine/user/$login/data/src.dat"
touch "$home/other/data/mine.dat"
failed=0
expect() {
    local want=$1
    shift
    local got
    got=$(HOME=$home XDG_DATA_HOME=relative PATH=/usr/bin:/bin bash -c '
        source "$0"
        COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMPREPLY=()
        _tessarine_cli
        printf "%s\n" "${COMPREPLY[@]}" | sort | paste -sd " "' "$completion" "$@")
    if [ "$got" != "$want" ]; then
        echo "FAIL: [$*] gave [$got], wanted [$want]"
        failed=1
    fi
}
completion=$1
expect "zip zip-pass" tessarine-cli -m z
expect "--mode=7z --mode=7z-pass" tessarine-cli --mode=7
expect "src 画像" tessarine-cli -f ""
expect "--filter=画像" tessarine-cli --filter=画
expect "mine" tessarine-cli --user-folder "$home/other" -f ""
expect "long short" tessarine-cli --stamp ""
expect "--dry-run" tessarine-cli --dry
[ "$failed" -eq 0 ] && echo "1 passed, 0 failed"
exit "$failed"
