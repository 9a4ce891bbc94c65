#!/usr/bin/env bash
# Installs every Debian package this project needs to build and test, and generates the
# Japanese locale the Wine runs depend on. The Japanese font lets Wine draw the texts of the
# message boxes and of DebugMonitor as a Japanese Windows would (without it every character is
# an empty box); xwd takes the pictures of the monitor under Xvfb. The benchmark
# (scripts/bench.sh) weighs the program against the archivers a user would take instead and
# draws its chart with matplotlib (under the system's python3).
# Idempotent; run as root (or with sudo available).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  zlib1g-dev libicu-dev libgtest-dev googletest
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64 libz-mingw-w64-dev
  clang libclang-rt-14-dev clang-format
  wine64 xvfb xauth x11-utils x11-apps locales
  fonts-ipafont-gothic
  attr file python3 python3-pefile strace osslsigncode openssl
  python3-matplotlib pigz zip unzip libarchive-tools 7zip
  gcc-multilib g++-multilib lib32z1-dev libicu-dev:i386 qemu-user
  qemu-system-x86 mmdebstrap e2fsprogs dosfstools mtools exfatprogs
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

# The 32-bit Linux build (host32) links the i386 build of ICU (multiarch), which its tests hold
# the packer's case folding against; the package lists for i386 come with the update below.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Wine picks the ANSI code page from the locale; Japanese names need ja_JP.UTF-8 really generated.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  if ! grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  fi
  $SUDO locale-gen >/dev/null
fi
