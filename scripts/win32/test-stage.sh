#!/usr/bin/env bash
# The Windows stage of the test command: installs the cross tools (once), builds the
# dependencies (cached), builds the shipped i686 programs into build-win32/bin without test
# hooks, checks them (check-shipped.sh), and runs the unit tests and the end-to-end tests
# (tests_e2e, which starts OvUpdate.exe and serves it from loopback servers of its own)
# under Wine on a test build with the hooks: an i686 one in build-win32/i686-test where the
# kernel runs 32-bit programs, else an x86_64 one of the same sources. Success is judged by GoogleTest's summaries, never by Wine's exit
# code alone. At the end the Wine server is stopped and no program of the build may still
# run.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
export OV_WIN_BUILD=${OV_WIN_BUILD:-$root/build-win32}
stage_start=$(date +%s)
step_start=$stage_start

step() {
  local now
  now=$(date +%s)
  echo "== win32: $1 (previous step $((now - step_start)) s)"
  step_start=$now
}

step "system packages"
bash "$here/setup-system.sh"

# shellcheck source=wine-env.sh
source "$here/wine-env.sh"

step "dependencies (i686)"
deps_i686=$(bash "$here/build-deps.sh" i686 | tail -1)

# The test programs run under Wine, one per test folder.
wine_test_folders=(${OV_WINE_TEST_FOLDERS:-text platform app xml channel decision fetch modules agent e2e})

# A test build has the test hooks (OV_TEST_HOOKS) and the test programs; the shipped
# build has neither.
configure_and_build() {  # build-folder toolchain-arch deps-prefix with-tests
  local hooks=OFF
  [ "$4" = yes ] && hooks=ON
  cmake -S "$root" -B "$1" -G Ninja -Wno-dev \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$2.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DOV_DEPS_PREFIX="$3" -DOV_BUILD_BENCH=OFF -DOV_WERROR=ON -DOV_TEST_HOOKS="$hooks" \
    -DOV_WINE_LOADER="$WINE_LOADER" >/dev/null
  local targets=(OvUpdate OrvixPlayer OrvixSetup logger client_id crash_report prism nimbo_proxy ovpublish)
  if [ "$4" = yes ]; then
    for folder in "${wine_test_folders[@]}"; do targets+=("tests_$folder"); done
  fi
  cmake --build "$1" -j2 --target "${targets[@]}"
}

if [ "$OV_TEST_ARCH" = i686 ]; then
  echo "win32: Wine's 32-bit loader runs here: the tests run on an i686 test build of the shipped sources"
else
  echo "win32: Wine does not run the i686 build here (the kernel runs no 32-bit programs, the" \
       "32-bit Wine is not installed, or OV_TEST_ARCH asked for x86_64): the tests run on an" \
       "x86_64 build of the same sources"
fi

step "build (i686, shipped)"
configure_and_build "$OV_WIN_BUILD" i686 "$deps_i686" no

step "check the shipped files"
bash "$here/check-shipped.sh" "$OV_WIN_BUILD"

if [ "$OV_TEST_ARCH" = i686 ]; then
  step "build (i686, for Wine)"
  configure_and_build "$OV_TEST_BUILD" i686 "$deps_i686" yes
else
  step "dependencies (x86_64)"
  deps_x64=$(bash "$here/build-deps.sh" x86_64 | tail -1)
  step "build (x86_64, for Wine)"
  configure_and_build "$OV_TEST_BUILD" x86_64 "$deps_x64" yes
fi

step "Wine prefix"
trap '"$WINE_SERVER" -k >/dev/null 2>&1 || true' EXIT
bash "$here/wine-prefix.sh"

step "tests under Wine: the $OV_TEST_ARCH build in ${OV_TEST_BUILD#"$root"/}"
failed=0
for folder in "${wine_test_folders[@]}"; do
  name=tests_$folder
  test_exe="$OV_TEST_BUILD/bin/$name.exe"
  log="$OV_TEST_BUILD/$name.wine.log"
  (cd "$OV_TEST_BUILD" && timeout 600 "$WINE_LOADER" "$test_exe" </dev/null >"$log" 2>&1) || true
  tr -d '\r' <"$log" >"$log.txt"
  summary=$(grep -E '^\[  PASSED  \] [0-9]+ tests?\.' "$log.txt" || true)
  if [ -n "$summary" ] && ! grep -q '^\[  FAILED  \]' "$log.txt"; then
    echo "$name: $summary$(grep -oE '^\[  SKIPPED \] [0-9]+ tests?' "$log.txt" | sed 's/^/, /' || true)"
  else
    echo "$name: FAILED under Wine (full output in $log.txt)"
    grep -E '^\[  FAILED  \]|Failure|error' "$log.txt" | head -20 || true
    failed=1
  fi
done

step "stop the Wine server, look for programs left running"
"$WINE_SERVER" -k >/dev/null 2>&1 || true
"$WINE_SERVER" -w >/dev/null 2>&1 || true
bash "$root/scripts/check-leftovers.sh" || failed=1

step "done"
echo "== win32: stage took $(( $(date +%s) - stage_start )) s; tests ran on the $OV_TEST_ARCH build (${OV_TEST_BUILD#"$root"/})"
if [ "$failed" = 0 ]; then
  echo "== win32: all Windows checks passed"
fi
exit "$failed"
