#!/usr/bin/env bash
# Fails when a tracked file still holds the markers a merge leaves around a conflict
# ("<<<<<<< ours" ... ">>>>>>> theirs"), naming each place.
set -euo pipefail
cd "$(dirname "$0")/.."

if found=$(git grep -nE '^(<<<<<<<|>>>>>>>)( |$)' -- . 2>/dev/null); then
  echo "conflict markers left by a merge:" >&2
  echo "$found" >&2
  exit 1
fi
echo "conflict markers: none in the tracked files"
