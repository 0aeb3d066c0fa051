#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when one
# is missing (so a prepared machine does not touch the network).
set -euo pipefail
pkgs=(build-essential cmake pkg-config zlib1g-dev libpng-dev libjpeg-dev libfreetype-dev
      fonts-dejavu-core ttf-bitstream-vera googletest libgtest-dev libgmock-dev libbenchmark-dev
      clang libclang-rt-14-dev python3
      libpixman-1-dev imagemagick python3-pil nginx-light python3-pyftpdlib curl
      python3-opencv libvips-tools)  # the last line: peers of bench/pictures_vs_peers.py
missing=()
for p in "${pkgs[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}"
fi
