#!/usr/bin/env bash
# Starts the Wine server of the prefix (kept for 300 s after its last program) and makes
# the prefix on first use: windows without X through the null display driver, and a crash
# that ends the program at once instead of starting the debugger.
# Expects the environment of wine-env.sh. The caller stops the server ("$WINE_SERVER" -k).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=wine-env.sh
source "$here/wine-env.sh"

# The server is started first: it must not hold the caller's output open. It fails only
# when a server of this prefix already runs, which serves as well.
mkdir -p "$WINEPREFIX"
"$WINE_SERVER" -p 300 </dev/null >/dev/null 2>&1 || true
# (The registry files appear only when the server saves them: look for the system folder.)
# A prefix this script did not set up (Wine started by hand in it first) is set up too.
marker="$WINEPREFIX/.ovupdate-prefix"
new_prefix=no
[ -f "$marker" ] || new_prefix=yes
if [ ! -d "$WINEPREFIX/drive_c/windows/system32" ]; then
  WINEARCH=win64 "$WINE_LOADER" wineboot -i </dev/null >/dev/null 2>&1 || true
fi
"$WINE_LOADER" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1 || true
"$WINE_LOADER" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
  </dev/null >/dev/null 2>&1 || true
"$WINE_LOADER" reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f \
  </dev/null >/dev/null 2>&1 || true
if [ "$new_prefix" = yes ]; then
  # The desktop of the first boot was made without the null driver: start afresh.
  touch "$marker"
  "$WINE_SERVER" -k >/dev/null 2>&1 || true
  "$WINE_SERVER" -w >/dev/null 2>&1 || true
  "$WINE_SERVER" -p 300 </dev/null >/dev/null 2>&1 || true
fi
[ -d "$WINEPREFIX/drive_c/windows/system32" ] || { echo "win32: the Wine prefix was not created" >&2; exit 1; }
