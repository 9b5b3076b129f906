#!/usr/bin/env bash
# Builds the Debian package from a built tree, lints it, installs it, runs one
# job of each archive mode with the installed tessarine-cli, tests every
# product, and removes the package again. Needs root (apt-get) and the tools
# that `bash scripts/setup-debian.sh --package` installs.
#   bash scripts/package-check.sh [BUILD_FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
export DEBIAN_FRONTEND=noninteractive

step() { printf '\n== %s\n' "$*"; }

step "cpack -G DEB"
rm -f "$build"/tessarine_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/tessarine_*.deb)
dpkg-deb --field "$deb" Package Version Depends Recommends

step "lintian"
lintian --fail-on error "$deb"

work=$(mktemp -d)
installed=false
cleanup() {
    if $installed; then apt-get purge -y -qq tessarine >/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

step "apt-get install $(basename "$deb")"
apt-get install -y -qq "$deb" >/dev/null
installed=true
dpkg -L tessarine > "$work/files"

step "metadata"
desktop-file-validate /usr/share/applications/org.example.tessarine.desktop
appstreamcli validate --no-net /usr/share/metainfo/org.example.tessarine.metainfo.xml
# The manual pages as the package holds them (a system may be set up to
# leave /usr/share/man out when installing).
dpkg-deb -x "$deb" "$work/deb"
for page in man1/tessarine.1.gz man1/tessarine-cli.1.gz ja/man1/tessarine.1.gz ja/man1/tessarine-cli.1.gz; do
    page=$work/deb/usr/share/man/$page
    lines=$(LANG=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null | wc -l)
    [ "$lines" -gt 20 ] || { echo "manual page $page does not render"; exit 1; }
    echo "${page#"$work/deb"}: $lines lines"
done

step "one job of each archive mode with /usr/bin/tessarine-cli"
# A user of its own (HOME), so that the data folder it makes is thrown away.
mkdir -p "$work/home" "$work/out" "$work/sample/sub/深い"
printf 'hello\n' > "$work/sample/a.txt"
printf '日本語\n' > "$work/sample/sub/名前.txt"
head -c 200000 /dev/urandom > "$work/sample/sub/深い/random.bin"
for mode in zip 7z lha; do
    product=$(HOME="$work/home" /usr/bin/tessarine-cli -m "$mode" -d "$work/out" "$work/sample" 2>/dev/null)
    echo "$mode: $product"
    case $mode in
        lha) echo "$(lhasa t "$product" | tr '\r' '\n' | grep -c -- '- Tested') members tested, CRC correct" ;;
        *) 7zz t "$product" | grep -E "^(Everything is Ok|Files:)" ;;
    esac
done
if [ -e /usr/lib/tessarine/user ]; then echo "the installed program folder was written"; exit 1; fi

step "apt-get purge tessarine"
apt-get purge -y -qq tessarine >/dev/null
installed=false
left=0
while read -r path; do
    if [ -f "$path" ] || [ -L "$path" ]; then echo "left behind: $path"; left=1; fi
done < "$work/files"
[ -e /usr/lib/tessarine ] && { echo "left behind: /usr/lib/tessarine"; left=1; }
[ "$left" -eq 0 ]
echo "package check passed"
