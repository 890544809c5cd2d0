#!/usr/bin/env bash
# Installs what the Windows build needs on a Debian 12 machine: the MinGW-w64 cross
# compilers, Wine (with its 32-bit part), the autotools that libsodium's build needs, and the
# source-package entries that let build-deps.sh fetch Debian's sources of libcurl, minizip
# and libsodium.
# Safe to run again: every step checks whether it is already done. Changes the system as
# root, through sudo when started by another user.
set -euo pipefail

as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  elif command -v sudo >/dev/null; then
    sudo "$@"
  else
    echo "win32: run as root or install sudo to set up the Windows tools ($1 needs root)" >&2
    exit 1
  fi
}

need_install=0
for cmd in i686-w64-mingw32-g++-posix x86_64-w64-mingw32-g++-posix wine wineserver dpkg-source ninja \
  autoreconf libtoolize; do
  command -v "$cmd" >/dev/null 2>&1 || need_install=1
done
[ -f /usr/i686-w64-mingw32/lib/libz.a ] || need_install=1
[ -d /usr/src/googletest ] || need_install=1
dpkg -s wine32:i386 >/dev/null 2>&1 || need_install=1

# deb-src entries: the machine's own apt sources, copied with the type changed, so no
# mirror host is ever written here.
src_list=/etc/apt/sources.list.d/ovupdate-deb-src.sources
need_update=0
if [ ! -f "$src_list" ]; then
  tmp=$(mktemp)
  list=$(mktemp)
  for f in /etc/apt/sources.list.d/*.sources; do
    [ "$f" = "$src_list" ] && continue
    # Only Debian's own entries (those signed with the Debian archive keyring).
    grep -q 'debian-archive-keyring' "$f" || continue
    sed -e 's/^Types:.*/Types: deb-src/' "$f" >>"$tmp"
    echo >>"$tmp"
  done
  if [ -f /etc/apt/sources.list ]; then
    grep -E '^deb[[:space:]]' /etc/apt/sources.list | sed -e 's/^deb[[:space:]]/deb-src /' >"$list" || true
    if [ -s "$list" ]; then
      as_root install -m 644 "$list" /etc/apt/sources.list.d/ovupdate-deb-src.list
    fi
  fi
  as_root install -m 644 "$tmp" "$src_list"
  rm -f "$tmp" "$list"
  need_update=1
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
  need_update=1
  need_install=1
fi

# A mirror that is being synchronised can fail one index for a while: one more try, then
# the install goes on with the lists at hand and fails only if a package is really missing.
if [ "$need_install" = 1 ] || [ "$need_update" = 1 ]; then
  if ! as_root apt-get update -q; then
    echo "win32: apt-get update failed; trying again in 20 s" >&2
    sleep 20
    as_root apt-get update -q || echo "win32: some package lists are not updated; installing from the lists at hand" >&2
  fi
fi
# Without the 32-bit Wine (wine32:i386, which needs the mirror's i386 lists to match the
# machine's packages) the stage still runs: it tests the x86_64 build instead.
packages=(g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  libz-mingw-w64-dev dpkg-dev wine wine64 librapidxml-dev googletest ninja-build cmake file autoconf automake libtool)
apt_install() { as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@"; }
if [ "$need_install" = 1 ] && ! apt_install "${packages[@]}" wine32:i386; then
  echo "win32: the 32-bit Wine (wine32:i386) cannot be installed now; installing the rest," \
       "and the tests will run on the x86_64 build" >&2
  apt_install "${packages[@]}"
fi
