#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when one
# is missing (so a prepared machine does not touch the network).
#   bash scripts/deps.sh            what building, running and testing need
#   bash scripts/deps.sh --runtime  only what building and running the player need
set -euo pipefail
# Building and running the player (and its tools and examples).
runtime_pkgs=(build-essential cmake pkg-config zlib1g-dev libspng-dev libdeflate-dev libjpeg-dev libfreetype-dev
              fonts-dejavu-core python3
              libsndfile1-dev libvorbis-dev libogg-dev libmpg123-dev libopenmpt-dev libavformat-dev libavcodec-dev
              libswscale-dev libavutil-dev)
# The tests, sanitizer builds, benchmarks and the peers the tests compare against.
test_pkgs=(ttf-bitstream-vera googletest libgtest-dev libgmock-dev libbenchmark-dev
           clang libclang-rt-14-dev libpixman-1-dev imagemagick python3-pil nginx-light
           python3-pyftpdlib curl sox ffmpeg procps)
# The peers of the picture benchmarks, and the /usr/bin/time they measure them with.
test_pkgs+=(libvips-tools python3-opencv python3-numpy time)
pkgs=("${runtime_pkgs[@]}")
if [ "${1:-}" != "--runtime" ]; then
  pkgs+=("${test_pkgs[@]}")
fi
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
