#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when one
# is missing (so a prepared machine does not touch the network).
#   bash scripts/deps.sh                 what building, running and testing need
#   bash scripts/deps.sh --runtime       only what building the player, its tools and
#                                        the examples, and running the examples need
#   bash scripts/deps.sh --list-runtime  prints that second list, one package a line
set -euo pipefail
# Building the player, its tools and the examples, and running the examples
# (examples/run.sh writes their pictures and sounds and serves the download
# with python3). The build embeds the Bitstream Vera faces.
runtime_pkgs=(build-essential cmake pkg-config zlib1g-dev libspng-dev libdeflate-dev libjpeg-dev libfreetype-dev
              ttf-bitstream-vera fonts-dejavu-core python3
              libsndfile1-dev libvorbis-dev libogg-dev libmpg123-dev libopenmpt-dev libavformat-dev libavcodec-dev
              libswscale-dev libavutil-dev)
# The tests, sanitizer builds, benchmarks and the programs the tests run:
# the peers they compare against, and ps, which the process tests read.
test_pkgs=(googletest libgtest-dev libgmock-dev libbenchmark-dev
           clang libclang-rt-14-dev libpixman-1-dev imagemagick python3-pil nginx-light
           python3-pyftpdlib curl sox ffmpeg procps)
# The peers of the picture benchmarks, and the /usr/bin/time they measure them with.
test_pkgs+=(libvips-tools python3-opencv python3-numpy time)
case "${1:-}" in
  --list-runtime)
    printf '%s\n' "${runtime_pkgs[@]}"
    exit 0
    ;;
  --runtime) pkgs=("${runtime_pkgs[@]}") ;;
  "") pkgs=("${runtime_pkgs[@]}" "${test_pkgs[@]}") ;;
  *)
    echo "deps.sh: unknown option $1 (--runtime, --list-runtime or none)" >&2
    exit 2
    ;;
esac
missing=()
for p in "${pkgs[@]}"; do
  # A removed package whose configuration files stay is known to dpkg but
  # not installed.
  [ "$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null)" = installed ] || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing ${missing[*]} and what they need from Debian's archive ..."
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  # apt's hundreds of lines are shown only when it fails.
  log=$(mktemp)
  trap 'rm -f "$log"' EXIT
  if ! { $sudo_cmd apt-get update -qq &&
         $sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"; } >"$log" 2>&1; then
    cat "$log"
    echo "deps.sh: installing the packages failed (above)" >&2
    exit 1
  fi
  echo "Installed and set up $(grep -c '^Setting up ' "$log" || true) package(s)."
fi
