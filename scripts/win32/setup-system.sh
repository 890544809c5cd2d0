#!/usr/bin/env bash
# Installs what the Windows build needs on a Debian 12 machine: the MinGW-w64 cross
# compilers, Wine (with its 32-bit part) and the source-package entries that let
# build-deps.sh fetch Debian's sources of libcurl, minizip and libsodium (and the autotools
# libsodium's source needs).
# Safe to run again: every step checks whether it is already done.
set -euo pipefail

need_install=0
for cmd in i686-w64-mingw32-g++-posix x86_64-w64-mingw32-g++-posix wine wineserver dpkg-source ninja autoreconf libtoolize; do
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
  for f in /etc/apt/sources.list.d/*.sources; do
    [ "$f" = "$src_list" ] && continue
    # Only Debian's own entries (those signed with the Debian archive keyring).
    grep -q 'debian-archive-keyring' "$f" || continue
    sed -e 's/^Types:.*/Types: deb-src/' "$f" >>"$tmp"
    echo >>"$tmp"
  done
  if [ -f /etc/apt/sources.list ]; then
    grep -E '^deb[[:space:]]' /etc/apt/sources.list | sed -e 's/^deb[[:space:]]/deb-src /' \
      >/etc/apt/sources.list.d/ovupdate-deb-src.list || true
  fi
  if [ -s "$tmp" ]; then
    mv "$tmp" "$src_list"
  else
    rm -f "$tmp"
    touch "$src_list"
  fi
  need_update=1
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
  need_install=1
fi

if [ "$need_install" = 1 ] || [ "$need_update" = 1 ]; then
  apt-get update -q
fi
if [ "$need_install" = 1 ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 \
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
    libz-mingw-w64-dev dpkg-dev wine wine64 wine32:i386 \
    librapidxml-dev googletest ninja-build cmake file autoconf automake libtool
fi
