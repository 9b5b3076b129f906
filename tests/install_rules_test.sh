#!/usr/bin/env bash
# The install rules: every installed file is in install_manifest.txt (an
# uninstall that reads it leaves no dead menu entry or link behind), the
# links in bin/ are relative, the desktop entry claims no folders, and the
# installed program folder carries the mark that keeps users out of it.
#   install_rules_test.sh BUILD_FOLDER
set -euo pipefail
build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
prefix=/opt/tessarine-test
DESTDIR="$stage" cmake --install "$build" --prefix "$prefix" >/dev/null
manifest="$build/install_manifest.txt"
(cd "$stage" && find . -type f -o -type l | sed 's|^\.||' | sort) > "$stage.found"
sort "$manifest" > "$stage.listed"
trap 'rm -rf "$stage" "$stage.found" "$stage.listed"' EXIT
if ! diff -u "$stage.listed" "$stage.found"; then
    echo "FAIL: installed files and install_manifest.txt differ"
    exit 1
fi
root="$stage$prefix"
[ "$(readlink "$root/bin/tessarine-cli")" = ../lib/tessarine/tessarine-cli ] || { echo "FAIL: bin link"; exit 1; }
[ -f "$root/lib/tessarine/installed" ] || { echo "FAIL: no installed mark"; exit 1; }
entry=$root/share/applications/org.example.tessarine.desktop
if grep -q '^MimeType=.*inode/directory' "$entry"; then echo "FAIL: the desktop entry claims folders"; exit 1; fi
grep -qx "Exec=\"$prefix/bin/tessarine\" %F" "$entry" || { echo "FAIL: Exec line"; grep Exec "$entry"; exit 1; }
echo "1 passed, 0 failed"
