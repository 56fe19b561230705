#!/usr/bin/env bash
# Installs every Debian package the project needs to build, run, test and
# benchmark. Safe to run again: packages already present are not fetched.
set -euo pipefail

PACKAGES=(
  # toolchain
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev clang-format
  # libraries
  libcurl4-openssl-dev libzzip-dev zlib1g-dev lzma-dev liblzma-dev
  libcrypto++-dev libdeflate-dev libzip-dev
  libsdl2-dev libsdl2-ttf-dev libsdl2-image-dev libfontconfig-dev libdbus-1-dev
  fonts-ipafont-gothic fonts-dejavu-core
  # run-time programs and data (the system's certificate authorities for HTTPS)
  xdelta3 ca-certificates
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  nginx xvfb imagemagick zip unzip xz-utils python3 curl xdotool valgrind strace openssl e2fsprogs dbus-daemon
  # the Debian package and its checks
  lintian desktop-file-utils
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
