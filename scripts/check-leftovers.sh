#!/usr/bin/env bash
# Fails, listing them, when a program started from this checkout's build folders is still
# running after the tests: the agent, the stand-in player, installer or servers, a test
# program (Linux, or Windows under Wine), or a Wine server of the Windows stage's prefix.
# Programs of other checkouts are not looked at.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
programs='(OvUpdate|OrvixPlayer|OrvixSetup|OvServer|OvModuleSource|tests_[a-z0-9_]+)(\.exe)?'
# A build folder as a Linux path, and as Wine shows it (the Z: drive is the Linux root).
linux_form="$root/build"
wine_form="z:$(printf '%s' "$root/build" | tr / '\\')"

# A Linux program by its executable file (however it was started), a Windows one by the
# program its command line starts with (behind Wine's loader, when that shows).
linux_program() { [[ "$1" == "$linux_form"* && "$1" =~ /$programs$ ]]; }
windows_program() {
  local words program
  read -r -a words <<<"$1"
  program=${words[0]:-}
  [[ "$program" == */wine* ]] && program=${words[1]:-}
  [[ "${program,,}" == "${linux_form,,}"* || "${program,,}" == "${wine_form,,}"* ]] && [[ "$program" =~ [/\\]$programs$ ]]
}
leftovers=
while read -r pid args; do
  [ "$pid" = $$ ] && continue
  if linux_program "$(readlink "/proc/$pid/exe" 2>/dev/null || true)" || windows_program "$args"; then
    leftovers+=$'\n'"$pid $args"
  fi
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
