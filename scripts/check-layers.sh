#!/usr/bin/env bash
# Fails when a source folder includes a folder above it. The layers, bottom to top:
#   platform -> xml, app -> fetch -> modules, decision, channel -> agent
# The release tool (tools/publish) stands beside the agent: it uses the subsystems' readers
# and rules, never the agent's wiring.
# A folder may include itself and the folders listed for it here, nothing else.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A allowed=(
  [platform]="platform"
  [xml]="xml platform"
  [app]="app platform"
  [fetch]="fetch app platform"
  [modules]="modules app xml platform"
  [decision]="decision fetch app platform"
  [channel]="channel fetch app xml platform"
  [agent]="agent channel decision modules fetch app xml platform"
  [tools/publish]="tools channel decision modules fetch app xml platform"
)

status=0
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
