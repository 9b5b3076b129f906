#!/usr/bin/env bash
# Installs everything Tessarine needs to build, test and run on Debian 12.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  build-essential cmake pkg-config libgtest-dev libgmock-dev \
  qt6-base-dev libgl-dev qt6-wayland \
  7zip lhasa libarchive-tools \
  xvfb xauth fonts-noto-cjk qt6-translations-l10n >/dev/null
# The destination tests mount real file systems: exFAT through exfat-fuse, FAT
# through fusefat (no kernel module needed), a small ext4 on a loop device,
# and bindfs for a mount that refuses chmod.
$SUDO apt-get install -y -qq --no-install-recommends fuse3 exfat-fuse exfatprogs fusefat dosfstools e2fsprogs \
  bindfs >/dev/null
# Window tests that need a real window manager run openbox on Xvfb and read
# window properties through Xlib.
$SUDO apt-get install -y -qq --no-install-recommends openbox libx11-dev >/dev/null
# Tests that mount the file systems of USB sticks without kernel modules:
# FAT through fusefat, exFAT through exfat-fuse (the FUSE tools unmount them;
# unzip checks the times ZIP archives give back).
$SUDO apt-get install -y -qq --no-install-recommends fuse3 fusefat dosfstools exfat-fuse exfatprogs unzip >/dev/null
# Screenshots and the benchmarks (scripts/screenshots.sh, bench/bench_window.sh, bench/run-all.sh: GNU time
# for peak memory).
$SUDO apt-get install -y -qq --no-install-recommends xdotool imagemagick libx11-dev hyperfine time >/dev/null
# The LHA benchmark's peer (bench/lha/run_lha_bench.sh, the LHA row of
# bench/run-all.sh): jlha, a Java LHA archiver. Only on request, since it
# brings a Java runtime and no test needs it.
if [ "${1:-}" = --bench ]; then
  $SUDO apt-get install -y -qq --no-install-recommends jlha-utils >/dev/null
fi
# The checks CI runs besides the tests: the package check
# (scripts/package-check.sh: building, linting and validating the Debian
# package) and the format check (scripts/format-check.sh).
if [ "${CI:-}" = true ] || [ "${1:-}" = --package ]; then
  $SUDO apt-get install -y -qq --no-install-recommends file lintian appstream desktop-file-utils man-db \
    clang-format >/dev/null
fi
