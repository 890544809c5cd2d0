#!/usr/bin/env bash
# End-to-end run of OvUpdate.exe under Wine, judged by the log the agent writes through the
# stand-in logger library: a background run writes its start and exit lines, and a second
# agent started while a first one runs finds it and leaves.
# Expects the environment of test-stage.sh (OV_WIN_BUILD, and a running wineserver).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=wine-env.sh
source "$here/wine-env.sh"

bin="$OV_TEST_BUILD/bin"
sandbox="$OV_TEST_BUILD/e2e"
wine_run() { "$WINE_LOADER" "$@" </dev/null; }
to_unix() { wine_run winepath -u "$1" 2>/dev/null | tr -d '\r'; }
to_windows() { wine_run winepath -w "$1" 2>/dev/null | tr -d '\r'; }

fail() {
  echo "e2e: FAILED: $*" >&2
  [ -f "${log_file:-}" ] && { echo "--- agent log:" >&2; cat "$log_file" >&2; }
  exit 1
}

# The agent's folders inside the prefix.
appdata_win=$(wine_run cmd /c 'echo %APPDATA%' 2>/dev/null | tr -d '\r')
appdata=$(to_unix "$appdata_win")
[ -n "$appdata" ] && [ -d "$appdata" ] || fail "no application-data folder in the Wine prefix"
settings_dir="$appdata/Lumora Video/Orvix"
log_dir="$appdata/kvlog"

# A player folder holding the stand-in libraries, registered under App Paths in both
# registry views (a 32-bit agent reads the 32-bit one, a 64-bit agent the other).
rm -rf "$sandbox"
mkdir -p "$sandbox/player" "$sandbox/agent"
cp "$bin/Lmlogger.dll" "$bin/CID.dll" "$bin/CrashReport.dll" "$sandbox/player/"
cp "$bin/OrvixPlayer.exe" "$sandbox/player/Orvix.exe"
cp "$bin/OvUpdate.exe" "$sandbox/agent/"
player_exe_win=$(to_windows "$sandbox/player/Orvix.exe")
for view in 32 64; do
  wine_run reg add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\Orvix.exe' \
    /ve /d "$player_exe_win" /f "/reg:$view" >/dev/null 2>&1 || fail "cannot write the App Paths key"
done

# Servers that refuse at once: nothing leaves the machine whatever the agent tries.
printf '[servers]\r\ndomain1=http://127.0.0.1:9\r\ndomain2=http://127.0.0.1:9\r\ndomain3=http://127.0.0.1:9\r\nreport=http://127.0.0.1:9\r\n' \
  >"$sandbox/agent/OvUpdate.deploy.ini"

mkdir -p "$settings_dir" "$appdata/Lumora Video/Brisa"
printf '[Test]\r\nprintlog=1\r\n' >"$settings_dir/OvUpdate.ini"
# The internet-cafe edition (bm = 1) ends the background thread before any update, so a
# background run is local and short.
printf '[main]\r\nbm=1\r\n' >"$appdata/Lumora Video/Brisa/Kavo.ini"

log_name() { echo "$log_dir/kvlog_$(date +%Y-%-m-%-d).log"; }
log_lines() { tr -d '\r' <"$log_file"; }

# 1. A background run logs its start first and its exit last.
rm -rf "$log_dir"
log_file=$(log_name)
timeout 120 "$WINE_LOADER" "$sandbox/agent/OvUpdate.exe" </dev/null >/dev/null 2>&1 || true
[ -f "$log_file" ] || fail "the agent wrote no log ($log_file)"
first=$(log_lines | head -1)
last=$(log_lines | tail -1)
[ "$first" = "[OvUpdate.exe] 升级程序OvUpdate.exe启动，读取 printlog = 1" ] || fail "first line: $first"
[ "$last" = "[OvUpdate.exe] 升级程序OvUpdate.exe退出" ] || fail "last line: $last"
echo "e2e: background run logged its start and exit lines ($(log_lines | wc -l) lines)"

# 2. A second agent, started while an initiative agent waits for the player, leaves.
rm -rf "$log_dir"
log_file=$(log_name)
"$WINE_LOADER" "$sandbox/agent/OvUpdate.exe" initiative </dev/null >/dev/null 2>&1 &
first_agent=$!
for _ in $(seq 100); do
  [ -f "$log_file" ] && grep -q '启动参数' "$log_file" && break
  sleep 0.1
done
grep -q '启动参数' "$log_file" 2>/dev/null || { kill "$first_agent" 2>/dev/null; fail "the first agent did not start"; }
timeout 60 "$WINE_LOADER" "$sandbox/agent/OvUpdate.exe" </dev/null >/dev/null 2>&1 || true
# The player ends the first agent's conversation.
timeout 60 "$WINE_LOADER" "$sandbox/player/Orvix.exe" send allclose </dev/null >/dev/null 2>&1 || true
for _ in $(seq 100); do
  kill -0 "$first_agent" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$first_agent" 2>/dev/null; then
  kill "$first_agent" 2>/dev/null || true
  fail "the first agent did not end after allclose"
fi
log_lines | grep -qx '\[OvUpdate.exe\] 已经有Ovupdate.exe存在' || fail "the second agent did not report the first"
[ "$(log_lines | grep -c '升级程序OvUpdate.exe退出')" = 2 ] || fail "both agents should log their exit"
echo "e2e: a second agent found the running one and left"
echo "e2e: 2 passed, 0 failed"
