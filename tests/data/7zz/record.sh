#!/bin/bash
# Records runs of 7zz as the 7-Zip library makes them (same switches, names
# after "--") into the transcripts beside this script, which the transcript
# test feeds to the library's reading of 7zz's output. Each file holds the
# exit code, then standard output and standard error:
#
#   exit N
#   ==> stdout <==
#   ...
#   ==> stderr <==
#   ...
#
# Needs root: the unreadable file is read by "nobody", the full disk is a
# 1 MiB tmpfs mounted for the run. Usage: record.sh [7zz]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
sevenzip=${1:-7zz}
work=$(mktemp -d)
trap 'umount "$work/full" 2>/dev/null || true; rm -rf "$work"' EXIT
chmod 755 "$work"
mkdir "$work/src" "$work/src/sub" "$work/full"
cd "$work/src"
printf 'hello\n' > a.txt
printf 'bye\n' > sub/b.txt
printf 'two\n' > sub/c.txt
printf 'secret\n' > secret && chmod 000 secret
add=(a -t7z -spd -snl -bd -sccUTF-8)

# record NAME INPUT COMMAND...: runs the command with INPUT on its standard
# input and writes NAME.txt.
record() {
    local name=$1 input=$2
    shift 2
    local rc=0
    printf '%s' "$input" | "$@" > "$work/out" 2> "$work/err" || rc=$?
    {
        echo "exit $rc"
        echo "==> stdout <=="
        cat "$work/out"
        echo "==> stderr <=="
        cat "$work/err"
    } > "$here/$name.txt"
    echo "$name: exit $rc"
}

record success "" "$sevenzip" "${add[@]}" -- ../ok.7z a.txt sub
# A name that is gone and a file that cannot be opened: the archive is made
# without them, exit code 1.
chmod 777 "$work"
record warnings "" setpriv --reuid=65534 --regid=65534 --clear-groups \
    "$sevenzip" "${add[@]}" -- ../warn.7z a.txt gone secret
# Adding to an archive with hidden names, with the wrong password.
printf 'pw\npw\n' | "$sevenzip" "${add[@]}" -mhe=on -p -- ../enc.7z a.txt > /dev/null
record wrong_password $'bad\nbad\n' "$sevenzip" "${add[@]}" -mhe=on -p -- ../enc.7z sub/b.txt
# A file bigger than the disk the archive goes to.
mount -t tmpfs -o size=1M tmpfs "$work/full"
head -c 3000000 /dev/urandom > big.bin
record disk_full "" "$sevenzip" "${add[@]}" -- ../full/out.7z big.bin
umount "$work/full"
record rename "" "$sevenzip" rn -spd -bd -sccUTF-8 -- ../ok.7z a.txt renamed.txt
