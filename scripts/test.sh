#!/usr/bin/env bash
# Builds everything and passes the tests: the Linux build in build/ (agent, stand-ins,
# tests, benchmarks) with all tests through CTest, the unit tests again under the address
# and undefined-behaviour sanitizers in build-asan/, then the Windows stage under Wine when
# its script is present. At the end no program of the build may still be running.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

# Each stage ends with its wall time and the CPU time of its programs (user + system, all
# cores): the CPU minutes hardly change with the machine's load, the wall minutes do.
ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{ print $16 + $17 }' "/proc/$$/stat"; }   # of the waited-for children
stage_wall=$(date +%s)
stage_cpu=$(cpu_ticks)
stage_done() {
  local wall cpu
  wall=$(($(date +%s) - stage_wall))
  cpu=$(($(cpu_ticks) - stage_cpu))
  awk -v n="$1" -v w="$wall" -v c="$cpu" -v t="$ticks" \
    'BEGIN { printf "== %s took %.1f min wall, %.1f CPU min\n", n, w / 60, c / t / 60 }'
  stage_wall=$(date +%s)
  stage_cpu=$(cpu_ticks)
}

scripts/setup-debian.sh
scripts/check-conflict-markers.sh
scripts/check-layers.sh

echo "== Linux build and tests (build/)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOV_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"
stage_done "Linux build and tests"

echo "== Unit tests under sanitizers (build-asan/)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOV_SANITIZE=ON -DOV_BUILD_BENCH=OFF -DOV_WERROR=ON >/dev/null
unit_tests=$(ninja -C build-asan -t targets all | sed -n 's/^\(tests_[a-z0-9_]*\): phony$/\1/p' | grep -vx tests_e2e | sort -u)
# shellcheck disable=SC2086
cmake --build build-asan -j"$jobs" --target $unit_tests
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for t in $unit_tests; do
  echo "-- $t"
  build-asan/bin/"$t" --gtest_brief=1
done
stage_done "Sanitizer build and unit tests"

if [ -x scripts/win32/test-stage.sh ]; then
  echo "== Windows stage (Wine)"
  scripts/win32/test-stage.sh
  stage_done "Windows stage"
fi

echo "== Programs left running"
scripts/check-leftovers.sh
echo "== All tests passed"
