#!/usr/bin/env bash
# Fails, listing them, when a program started from this checkout's build folders is still
# running after the tests: the agent, the stand-in player, installer or servers, a test
# program (Linux, or Windows under Wine), or a Wine server of the Windows stage's prefix.
# Programs of other checkouts are not looked at.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
programs='(OvUpdate|OrvixPlayer|OrvixSetup|OvServer|ovpublish|tests_[a-z0-9_]+)(\.exe)?'
build="$root/build"  # build/, build-asan/, build-win32/ ...

# A Linux program by its executable file, however it was started; a Windows one, run by
# Wine's loader, by the executable file Wine mapped into it.
of_the_build() { [[ "$1" == "$build"* && "$1" =~ /$programs$ ]]; }
leftovers=
while read -r pid args; do
  exe=$(readlink "/proc/$pid/exe" 2>/dev/null) || continue
  files=$exe
  if [[ "$exe" == */wine* ]]; then
    files=$(awk '{print $6}' "/proc/$pid/maps" 2>/dev/null | grep -i '\.exe$' | sort -u || true)
  fi
  for file in $files; do
    if of_the_build "$file"; then
      leftovers+=$'\n'"$pid $args ($file)"
      break
    fi
  done
done < <(ps -eo pid=,args=)

# A Wine server names no prefix on its command line: its environment does.
for pid in $(ps -eo pid=,comm= | awk '$2 ~ /^wineserver/ {print $1}'); do
  prefix=$(tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | sed -n 's/^WINEPREFIX=//p' || true)
  case "$prefix" in
    "$root"/build*) leftovers+=$'\n'"$(ps -o pid=,args= -p "$pid" || true) (WINEPREFIX=$prefix)" ;;
  esac
done

leftovers=$(sed '/^$/d' <<<"$leftovers")
if [ -n "$leftovers" ]; then
  echo "programs of the build still running after the tests:" >&2
  echo "$leftovers" >&2
  exit 1
fi
echo "no program of the build left running"
