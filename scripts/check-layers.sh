#!/usr/bin/env bash
# Fails when a source folder includes a folder above it. The layers, bottom to top:
#   text -> platform -> xml, app -> fetch -> modules, decision, channel -> agent
# The release tool (tools/publish) stands beside the agent: it uses the subsystems' readers
# and rules, never the agent's wiring.
# A folder may include itself and the folders listed for it here, nothing else. The
# README's layer diagram (under "## Layout", top row first) must say the same: every
# folder of the table appears there, and each uses only folders of rows below its own.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A allowed=(
  [text]="text"
  [platform]="platform text"
  [xml]="xml platform text"
  [app]="app platform text"
  [fetch]="fetch app platform text"
  [modules]="modules fetch app xml platform text"
  [decision]="decision fetch app platform text"
  [channel]="channel fetch app xml platform text"
  [agent]="agent channel decision modules fetch app xml platform text"
  [tools/publish]="tools channel decision modules fetch app xml platform text"
)

status=0

# The README's diagram: row number of each folder, counted from the top.
declare -A row=()
n=0
while read -r line; do
  n=$((n + 1))
  for word in $line; do
    case $word in */) row[${word%/}]=$n ;; esac
  done
done < <(awk '/^## Layout/ { layout = 1 } layout && /^```/ { if (inside) exit; inside = 1; next } inside' README.md)
for folder in "${!allowed[@]}"; do
  [ "$folder" = tools/publish ] && continue
  if [ -z "${row[$folder]:-}" ]; then
    echo "layers: README's layer diagram does not show $folder/" >&2; status=1; continue
  fi
  for used in ${allowed[$folder]}; do
    [ "$used" = "$folder" ] && continue
    if [ -z "${row[$used]:-}" ] || [ "${row[$used]}" -le "${row[$folder]}" ]; then
      echo "layers: $folder/ may use $used/, but README's diagram does not put $used/ below it" >&2
      status=1
    fi
  done
done

for folder in "${!allowed[@]}"; do
  while IFS=: read -r file line included; do
    target=${included#*\"}
    target=${target%%/*}
    case " ${allowed[$folder]} " in
      *" $target "*) ;;
      *) echo "layers: $file:$line includes $target/, which $folder/ may not use" >&2; status=1 ;;
    esac
  done < <(grep -rnE '^#include "[a-z_]+/' "$folder" --include='*.h' --include='*.cpp' || true)
done
[ "$status" = 0 ] && echo "layers: every folder includes only what lies below it"
exit "$status"
