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
echo "run-example: installs the packages that are missing, builds the player and its tools in build/"
echo "(from scratch about a minute on two cores, less on more), then runs examples/$name.qas."
bash scripts/deps.sh --runtime
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# A build folder of its own making leaves out the tests and benchmarks,
# whose packages only scripts/test-all.sh installs. One whose configuring
# failed (no build files yet) is configured again.
if [ ! -f build/CMakeCache.txt ] || { [ ! -f build/Makefile ] && [ ! -f build/build.ninja ]; }; then
  echo "Configuring build/ ..."
  if ! cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_TESTS=OFF -DQM_BENCH=OFF >"$log" 2>&1; then
    cat "$log"
    echo "run-example: configuring the build failed (above)" >&2
    exit 1
  fi
fi
: >"$log"
echo "Building quillmereplayer, qmasm, qmdis, qmlink and the examples in build/ ..."
# On a terminal one line shows how far the build is; the whole log is shown
# only when it fails.
progress() {
  local line shown=""
  while IFS= read -r line; do
    printf '%s\n' "$line" >>"$log"
    if [ -t 1 ] && [[ $line =~ ^\[\ *([0-9]+)%\] ]] && [ "${BASH_REMATCH[1]}" != "$shown" ]; then
      shown=${BASH_REMATCH[1]}
      printf '\r  %s%%' "$shown"
    fi
  done
  if [ -n "$shown" ]; then printf '\r      \r'; fi
}
if ! cmake --build build -j"$jobs" --target quillmereplayer qmasm-cli qmdis-cli qmlink-cli examples 2>&1 | progress; then
  cat "$log"
  echo "run-example: the build failed (above)" >&2
  exit 1
fi
echo "Running build/examples/$name.qma (assembled from examples/$name.qas):"
status=0
bash examples/run.sh build "$name" || status=$?
echo "The example ended with exit status $status."
exit "$status"
