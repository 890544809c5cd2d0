#!/usr/bin/env bash
# End-to-end runs of OvUpdate.exe under Wine, judged by the log the agent writes through
# the stand-in logger library and by the files it leaves. The scenarios live in e2e/*.sh
# (functions scenario_<name>, run in the order they are written, each on a fresh sandbox).
#   OV_E2E_FILES   the scenario files to run (default: all, in the order below)
#   OV_E2E_FILTER  an extended regular expression the scenario names must match
# Expects the environment of test-stage.sh (OV_WIN_BUILD, and a running Wine server).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=wine-env.sh
source "$here/wine-env.sh"
# shellcheck source=e2e/lib.sh
source "$here/e2e/lib.sh"

files=(${OV_E2E_FILES:-startup decision install channel modules})
passed=0
failed=0
e2e_folders
for file in "${files[@]}"; do
  [ -f "$here/e2e/$file.sh" ] || continue
  # shellcheck disable=SC1090
  source "$here/e2e/$file.sh"
  for name in $(sed -n 's/^\(scenario_[A-Za-z0-9_]*\)() *{.*/\1/p' "$here/e2e/$file.sh"); do
    [[ "$name" =~ ${OV_E2E_FILTER:-.} ]] || continue
    started=$(date +%s)
    if (set -euo pipefail; reset_sandbox; "$name") >"$sandbox.out" 2>&1; then
      passed=$((passed + 1))
      echo "e2e: $file/${name#scenario_}: passed ($(( $(date +%s) - started )) s)"
    else
      failed=$((failed + 1))
      echo "e2e: $file/${name#scenario_}: FAILED"
      sed 's/^/    /' "$sandbox.out"
    fi
  done
done
stop_programs
echo "e2e: $passed passed, $failed failed"
[ "$failed" = 0 ]
