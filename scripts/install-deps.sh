#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; silent when all are present.
set -euo pipefail

packages=(cmake make g++ pkg-config libgtest-dev qt6-base-dev fonts-ipafont-gothic python3 python3-jsonschema)
# The tests read the record's JSON lines with it.
packages+=(nlohmann-json3-dev)
# The hidraw device source enumerates and watches devices through libudev.
packages+=(libudev-dev)
# The programs read their command lines with CLI11 (header-only: the Windows build takes it too).
packages+=(libcli11-dev)
# The manual pages are made from the programs' --help, the icons' PNG sizes from their SVG.
packages+=(help2man librsvg2-bin)
# `install-deps.sh windows`: what the Windows cross build and its smoke run under Wine need.
if [ "${1:-}" = windows ]; then
  packages=(cmake make g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev googletest libcli11-dev wine wine64 xvfb
            xdotool x11-utils imagemagick fonts-ipafont-gothic nsis zip)
fi
# `install-deps.sh clang`: also clang and its runtime libraries, for the clang build and its
# libFuzzer targets.
if [ "${1:-}" = clang ]; then
  packages+=(clang libclang-rt-14-dev)
fi
# `install-deps.sh format`: the formatter of `make format-check`.
if [ "${1:-}" = format ]; then
  packages=(clang-format-14 git)
fi
# `install-deps.sh lab`: the VM of `make lab-check` and what runs inside it (the kernel itself
# is fetched by tests/lab/run-in-vm.sh with apt-get download).
if [ "${1:-}" = lab ]; then
  packages=(qemu-system-x86 busybox-static xz-utils udev wine wine64 xvfb xdotool x11-utils imagemagick
            fonts-ipafont-gothic)
fi
# `install-deps.sh package`: the build's packages and what makes the Debian package (cpack's
# dpkg-shlibdeps and file) and checks it.
if [ "${1:-}" = package ]; then
  packages+=(dpkg-dev file lintian man-db desktop-file-utils)
fi
# `install-deps.sh bench`: the build's packages and the interpreter of bench/bench.py.
if [ "${1:-}" = bench ]; then
  packages+=(python3)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}" >&2
if [ "$(id -u)" -ne 0 ]; then
  sudo=sudo
else
  sudo=
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq >/dev/null
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
