#!/usr/bin/env bash
# Builds the player and the tools the README names (qmasm, qmdis, qmlink)
# and runs an example applet, showing what it printed.
#   bash scripts/run-example.sh [NAME]   NAME: an examples/NAME.qas (default: sum)
# QM_JOBS (default: the number of cores) bounds the compile jobs.
set -euo pipefail
cd "$(dirname "$0")/.."
name=${1:-sum}
jobs=${QM_JOBS:-$(nproc)}
if [ ! -f "examples/$name.qas" ]; then
  echo "run-example: there is no examples/$name.qas; the examples are:" >&2
  ls examples/*.qas | sed 's|examples/||; s|\.qas$||' >&2
  exit 2
fi
bash scripts/deps.sh --runtime
# A build folder of its own making leaves out the tests and benchmarks,
# whose packages only scripts/test-all.sh installs.
if [ ! -f build/CMakeCache.txt ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_TESTS=OFF -DQM_BENCH=OFF >/dev/null
fi
log=$(mktemp)
trap 'rm -f "$log"' EXIT
echo "Building quillmereplayer, qmasm, qmdis and qmlink in build/ ..."
if ! cmake --build build -j"$jobs" --target quillmereplayer qmasm-cli qmdis-cli qmlink-cli examples \
    >"$log" 2>&1; then
  cat "$log"
  echo "run-example: the build failed" >&2
  exit 1
fi
echo "Running build/examples/$name.qma (assembled from examples/$name.qas):"
status=0
bash examples/run.sh build "$name" || status=$?
echo "The example ended with exit status $status."
exit "$status"
