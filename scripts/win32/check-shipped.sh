#!/usr/bin/env bash
# Checks the shipped Windows files of a build folder, with Debian's MinGW binutils only:
#   - OvUpdate.exe is a 32-bit GUI program whose application manifest asks for asInvoker
#     (without it Windows takes a 32-bit "...update..." program for an installer and asks
#     for elevation);
#   - its version resource and those of the stand-in DLLs hold the build's version (the
#     project version CMake wrote to version.txt), in the fixed part and in the strings;
#   - it carries no debug sections, names its symbol file OvUpdate.exe.debug (present
#     beside it) in its debug link, and is smaller than 1.5 MB;
#   - no program or DLL of bin/ imports a MinGW runtime DLL;
#   - OvUpdate.exe has no test hooks: the name OVUPDATE_DEPLOY is not in it, neither as
#     UTF-16LE (the agent's wide strings) nor as ASCII.
# Usage: check-shipped.sh BUILD_FOLDER. Prints one line per check; exit code 1 when any fails.
set -euo pipefail

build=${1:?usage: check-shipped.sh BUILD_FOLDER}
bin=$build/bin
exe=$bin/OvUpdate.exe
triple=i686-w64-mingw32
max_bytes=$((3 * 1024 * 1024 / 2))
failed=0

ok() { echo "win32: check: $1"; }
bad() {
  echo "win32: check FAILED: $1" >&2
  failed=1
}

# The resources of a PE file as resource-script text.
resources() { "$triple-windres" -J coff -O rc -i "$1" 2>/dev/null || true; }

# The version resource of one file against the build's version.
check_version() {  # file
  local rc commas
  rc=$(resources "$1")
  commas=${version//./,}
  if grep -qE "^ *FILEVERSION +${commas//,/, *}\$" <<<"$rc" &&
     grep -qE "^ *PRODUCTVERSION +${commas//,/, *}\$" <<<"$rc" &&
     grep -qF "VALUE \"FileVersion\", \"$version\"" <<<"$rc" &&
     grep -qF "VALUE \"ProductVersion\", \"$version\"" <<<"$rc"; then
    ok "$(basename "$1") has version $version"
  else
    bad "$(basename "$1") has no version resource of version $version"
  fi
}

[ -f "$build/version.txt" ] || { echo "win32: check: no $build/version.txt (configure the build first)" >&2; exit 1; }
version=$(tr -d '[:space:]' <"$build/version.txt")

kind=$(file -b "$exe")
case "$kind" in
  "PE32 executable (GUI) Intel 80386"*) ok "OvUpdate.exe is a 32-bit GUI program" ;;
  *) bad "OvUpdate.exe is not a 32-bit GUI program: $kind" ;;
esac

if resources "$exe" | tr -d '\n' | grep -qE 'requestedExecutionLevel[^>]*level="*asInvoker'; then
  ok "OvUpdate.exe has a manifest asking for asInvoker"
else
  bad "OvUpdate.exe has no manifest asking for asInvoker"
fi

check_version "$exe"
for dll in Lmlogger CID CrashReport prism NimboProxy; do
  check_version "$bin/$dll.dll"
done

debug_sections=$("$triple-objdump" -h "$exe" | awk '$2 ~ /^\.(z?debug|stab)/ { print $2 }' | tr '\n' ' ')
if [ -z "$debug_sections" ]; then
  ok "OvUpdate.exe has no debug sections"
else
  bad "OvUpdate.exe carries debug sections: $debug_sections"
fi
if "$triple-objdump" -h "$exe" | grep -q ' \.gnu_debuglink ' && [ -s "$exe.debug" ]; then
  ok "OvUpdate.exe links its symbols in OvUpdate.exe.debug"
else
  bad "OvUpdate.exe has no debug link, or OvUpdate.exe.debug is missing"
fi

size=$(stat -c %s "$exe")
if [ "$size" -lt "$max_bytes" ]; then
  ok "OvUpdate.exe is $size bytes (below $max_bytes)"
else
  bad "OvUpdate.exe is $size bytes, not below $max_bytes"
fi

runtime_imports=0
for binary in "$bin"/*.exe "$bin"/*.dll; do
  if "$triple-objdump" -p "$binary" | grep -iE 'DLL Name: *(libstdc\+\+|libgcc|libwinpthread|libcurl|zlib|libz)'; then
    bad "$(basename "$binary") needs a MinGW runtime DLL"
    runtime_imports=1
  fi
done
[ "$runtime_imports" = 0 ] && ok "no program or DLL of bin/ imports a MinGW runtime DLL"

hook=OVUPDATE_DEPLOY
if "$triple-strings" -a "$exe" | grep -qF "$hook" || "$triple-strings" -a -el "$exe" | grep -qF "$hook"; then
  bad "OvUpdate.exe carries the test hook $hook"
else
  ok "OvUpdate.exe carries no test hook ($hook)"
fi
exit "$failed"
