#!/usr/bin/env bash
# Builds and runs every test:
#  1. the normal build (gcc) with all tests;
#  2. a clang build under AddressSanitizer and UndefinedBehaviorSanitizer with
#     all tests again, plus the libFuzzer targets, each run briefly;
#  3. every test again with a full collection at every collection point;
#  4. the threaded event tests under ThreadSanitizer.
# The normal build's tests include the examples with their expected output
# and the check that docs/commands.md matches the command tables.
# QM_JOBS (default: the number of cores) bounds the compile jobs, the tests
# run at once and the fuzzers run side by side.
# From a clean clone this takes about 9 minutes on 8 cores and 22 on 2, and
# leaves about 5.4 GB in the four build folders (build, build-san,
# build-gcstress, build-tsan).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs=${QM_JOBS:-$(nproc)}
export TZ=UTC LANG=C LC_ALL=C
# scripts/deps.sh has installed every program the tests check against, so a
# test that finds one missing fails here instead of skipping.
export QM_REQUIRE_ORACLES=1
fuzz_seconds=${QM_FUZZ_SECONDS:-15}
# Configures quietly, but shows everything when configuring fails (which
# pkg-config module is missing is told on standard output).
configure() {
  local log status=0
  log=$(mktemp)
  "$@" >"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then cat "$log"; fi
  rm -f "$log"
  if [ "$status" -ne 0 ]; then
    echo "test-all: configuring failed (above)" >&2
    exit 1
  fi
}


echo "== normal build"
configure cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_TESTS=ON -DQM_BENCH=ON
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== sanitizer build"
configure env CC=clang CXX=clang++ cmake -S . -B build-san -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=ON \
  -DQM_FUZZ=ON -DQM_BENCH=OFF
cmake --build build-san -j"$jobs"
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-san --output-on-failure -j"$jobs"
# The fuzzers run side by side, each from a copy of its committed seeds, so
# that the short runs begin at real inputs and the seeds stay as committed.
fuzz_logs=$(mktemp -d)
# An input that fails a fuzzer is kept in the (ignored) build folder, not
# beside the sources.
mkdir -p build-san/fuzz-findings
fuzz_runs=()
for fuzzer in build-san/tests/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  # At most QM_JOBS fuzzers at once: wait for the oldest before starting more.
  if [ ${#fuzz_runs[@]} -ge "$jobs" ]; then
    oldest=${fuzz_runs[${#fuzz_runs[@]}-$jobs]}
    wait "${oldest%%:*}" || true
  fi
  (
    corpus=$(mktemp -d)
    seeds="tests/fuzz/corpus/${name#fuzz_}"
    if [ -d "$seeds" ]; then cp -R "$seeds/." "$corpus/"; fi
    status=0
    # The picture decoders' inputs are capped at 4 M pixels (16 MiB): for
    # them an allocation past 256 MiB or a unit past 5 s is a fault.
    limits=(-rss_limit_mb=2048 -timeout=10)
    case "$name" in *_decoder) limits=(-rss_limit_mb=1024 -malloc_limit_mb=256 -timeout=5) ;; esac
    "$fuzzer" -max_total_time="$fuzz_seconds" "${limits[@]}" -artifact_prefix=build-san/fuzz-findings/ "$corpus" \
      >"$fuzz_logs/$name.log" 2>&1 || status=$?
    rm -rf "$corpus"
    echo "$status" >"$fuzz_logs/$name.rc"
  ) &
  fuzz_runs+=("$!:$name")
done
fuzz_failed=0
for run in "${fuzz_runs[@]}"; do
  echo "== ${run#*:} for ${fuzz_seconds}s"
  wait "${run%%:*}" 2>/dev/null || true
  if [ "$(cat "$fuzz_logs/${run#*:}.rc" 2>/dev/null)" = 0 ]; then
    tail -n 3 "$fuzz_logs/${run#*:}.log"
  else
    fuzz_failed=1
    cat "$fuzz_logs/${run#*:}.log"
  fi
done
rm -rf "$fuzz_logs"
[ "$fuzz_failed" -eq 0 ]

echo "== every test again with a full collection at every collection point"
configure env CC=clang CXX=clang++ cmake -S . -B build-gcstress -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=ON \
  -DQM_GC_STRESS=ON -DQM_BENCH=OFF
cmake --build build-gcstress -j"$jobs"
# A chain of a hundred thousand tables turns quadratic when every allocation
# collects; it runs in the other builds.
GTEST_FILTER='-TableCommands.DeepCopyOfALongChainNeedsNoRecursion' \
  ctest --test-dir build-gcstress --output-on-failure -j"$jobs"

tsan_tests=${QM_TSAN_TESTS:-test_display test_platform_posix test_media}
if ls tests/display/*.cpp >/dev/null 2>&1; then
  echo "== threaded tests under ThreadSanitizer"
  configure env CC=clang CXX=clang++ cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DQM_TSAN=ON -DQM_BENCH=OFF
  cmake --build build-tsan -j"$jobs" --target $tsan_tests
  ctest --test-dir build-tsan --output-on-failure -R "^($(echo $tsan_tests | tr ' ' '|'))\$"
fi
