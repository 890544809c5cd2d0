#!/usr/bin/env bash
# Cross-builds the libraries Debian ships no MinGW build of (libcurl, minizip, libsodium) from
# Debian's own source packages, static, into a cache that later runs reuse, and puts
# beside them the header-only cpp-httplib of Debian's source package for the tests.
# Usage: build-deps.sh [i686|x86_64]; prints the install prefix on its last line.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
arch=${1:-i686}
triple=$arch-w64-mingw32
cache=${OV_DEPS_CACHE:-$HOME/.cache/ovupdate-deps}
prefix="$cache/$triple"

source_version() {
  apt-cache showsrc "$1" 2>/dev/null | awk '/^Version:/ {print $2}' | sort -V | tail -1
}

work=$(mktemp -d "${TMPDIR:-/tmp}/ovupdate-deps.XXXXXX")
trap 'rm -rf "$work"' EXIT

fetch_source() {  # package
  (cd "$work" && apt-get source -q --only-source "$1" >"$work/apt-source-$1.log" 2>&1) || {
    cat "$work/apt-source-$1.log" >&2
    exit 1
  }
}

build_libraries() {
  echo "build-deps: building $1 for $triple" >&2
  # The library folder goes whole, libsodium and zstd with it: their markers go too, so they are built again.
  rm -rf "$prefix/lib" "$prefix/include/curl" "$prefix/include/minizip" "$prefix/.built" "$prefix/.sodium" "$prefix/.zstd"
  mkdir -p "$prefix/include/minizip" "$prefix/lib"
  fetch_source curl
  fetch_source minizip
  cd "$work"

  # libcurl: HTTP only, Schannel for TLS with the Windows certificate store, zlib for
  # gzip content decoding.
  local curl_src mz_src mz_dir
  curl_src=$(find . -maxdepth 1 -type d -name 'curl-*' | head -1)
  cmake -S "$curl_src" -B curl-build -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DHTTP_ONLY=ON -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF \
    -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none -DCURL_ZLIB=ON -DZLIB_USE_STATIC_LIBS=ON \
    -DCURL_DISABLE_LDAP=ON -DUSE_LIBIDN2=OFF -DUSE_NGHTTP2=OFF -DCURL_USE_LIBSSH2=OFF \
    -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF \
    -DENABLE_MANUAL=OFF -DCURL_USE_LIBPSL=OFF >curl-configure.log 2>&1 || {
    tail -40 curl-configure.log >&2
    exit 1
  }
  cmake --build curl-build -j2 >curl-build.log 2>&1 || { tail -40 curl-build.log >&2; exit 1; }
  cmake --install curl-build >/dev/null

  # minizip: zip reading and writing with the Win32 file layer.
  mz_src=$(find . -maxdepth 1 -type d \( -name 'minizip-*' -o -name 'zlib-*' \) | head -1)
  mz_dir=$(dirname "$(find "$mz_src" -name unzip.c | head -1)")
  local objs=()
  for f in ioapi unzip zip iowin32; do
    "$triple-gcc-posix" -O2 -w -c "$mz_dir/$f.c" -o "$work/mz-$f.o" -I"$mz_dir"
    objs+=("$work/mz-$f.o")
  done
  "$triple-ar" rcs "$prefix/lib/libminizip.a" "${objs[@]}"
  cp "$mz_dir"/{ioapi.h,unzip.h,zip.h,iowin32.h} "$prefix/include/minizip/"
  [ -f "$mz_dir/crypt.h" ] && cp "$mz_dir/crypt.h" "$prefix/include/minizip/"
  echo "$1" >"$prefix/.built"
}

# libsodium (Ed25519, BLAKE2b and SHA-256 for the signed documents): static, with its own
# marker, so a cache made before it gets it added without rebuilding the others.
install_sodium() {
  echo "build-deps: building libsodium $1 for $triple" >&2
  fetch_source libsodium
  local src
  src=$(find "$work" -maxdepth 1 -type d -name 'libsodium-*' | head -1)
  [ -n "$src" ] || { echo "build-deps: no libsodium source" >&2; exit 1; }
  rm -rf "$prefix/include/sodium" "$prefix/include/sodium.h" "$prefix/lib"/libsodium.* "$prefix/.sodium"
  # Debian's source has no configure script: autoreconf makes it (autogen.sh would fetch
  # newer config scripts from the network).
  (cd "$src" && autoreconf -if >"$work/sodium-autoreconf.log" 2>&1 && ./configure --host="$triple" --prefix="$prefix" --disable-shared --enable-static \
     --disable-ssp --disable-dependency-tracking CC="$triple-gcc-posix" AR="$triple-ar" \
     RANLIB="$triple-ranlib" >"$work/sodium-configure.log" 2>&1 &&
   make -j2 >"$work/sodium-build.log" 2>&1 && make install >/dev/null 2>&1) || {
    tail -n 40 "$work"/sodium-*.log >&2 || true
    exit 1
  }
  echo "$1" >"$prefix/.sodium"
}

# zstd's decoder only (the agent applies module patches; it never compresses): the
# decompression and common sources compiled with legacy formats, tracing and assembly off.
install_zstd() {
  echo "build-deps: building the zstd decoder $1 for $triple" >&2
  # The newest source the mirror still has whole: a security upload's files may be gone.
  local v ok=""
  for v in $(apt-cache showsrc libzstd 2>/dev/null | awk '/^Version:/ {print $2}' | sort -rV); do
    (cd "$work" && apt-get source -q --only-source "libzstd=$v" >"$work/apt-source-zstd.log" 2>&1) && { ok=1; break; }
  done
  [ -n "$ok" ] || { cat "$work/apt-source-zstd.log" >&2; exit 1; }
  local src lib objs=()
  src=$(find "$work" -maxdepth 1 -type d -name 'libzstd-*' | head -1)
  lib="$src/lib"
  for f in "$lib"/common/*.c "$lib"/decompress/*.c; do
    "$triple-gcc-posix" -Os -w -ffunction-sections -fdata-sections -DZSTD_LEGACY_SUPPORT=0 -DZSTD_DISABLE_ASM -DZSTD_NO_INLINE \
      -DZSTD_NO_TRACE -DZSTD_STRIP_ERROR_STRINGS -DHUF_FORCE_DECOMPRESS_X1 -DZSTD_FORCE_DECOMPRESS_SEQUENCES_SHORT \
      -c "$f" -o "$work/zstd-$(basename "$f" .c).o" -I"$lib" -I"$lib/common"
    objs+=("$work/zstd-$(basename "$f" .c).o")
  done
  rm -f "$prefix/lib/libzstd.a"
  "$triple-ar" rcs "$prefix/lib/libzstd.a" "${objs[@]}"
  cp "$lib/zstd.h" "$lib/zstd_errors.h" "$prefix/include/"
  echo "$1" >"$prefix/.zstd"
}

install_httplib() {
  echo "build-deps: taking cpp-httplib $1" >&2
  fetch_source cpp-httplib
  local header
  header=$(find "$work" -maxdepth 2 -name httplib.h -path '*cpp-httplib-*' | head -1)
  [ -n "$header" ] || { echo "build-deps: no httplib.h in the cpp-httplib source" >&2; exit 1; }
  mkdir -p "$prefix/include"
  cp "$header" "$prefix/include/httplib.h"
  echo "$1" >"$prefix/.httplib"
}

curl_version=$(source_version curl)
minizip_version=$(source_version minizip)
httplib_version=$(source_version cpp-httplib)
sodium_version=$(source_version libsodium)
if [ -z "$curl_version" ] || [ -z "$minizip_version" ] || [ -z "$httplib_version" ] || [ -z "$sodium_version" ]; then
  echo "build-deps: a source package is missing (run setup-system.sh first)" >&2
  exit 1
fi
libs_key="curl-$curl_version minizip-$minizip_version gcc-$("$triple-gcc-posix" -dumpversion)"

[ "$(cat "$prefix/.built" 2>/dev/null)" = "$libs_key" ] || build_libraries "$libs_key"
[ "$(cat "$prefix/.httplib" 2>/dev/null)" = "$httplib_version" ] || install_httplib "$httplib_version"
sodium_key="libsodium-$sodium_version gcc-$("$triple-gcc-posix" -dumpversion)"
if [ "$(cat "$prefix/.sodium" 2>/dev/null)" != "$sodium_key" ] || [ ! -f "$prefix/lib/libsodium.a" ]; then
  install_sodium "$sodium_key"
fi
zstd_key="libzstd-$(source_version libzstd) decoder-Os gcc-$("$triple-gcc-posix" -dumpversion)"
if [ "$(cat "$prefix/.zstd" 2>/dev/null)" != "$zstd_key" ] || [ ! -f "$prefix/lib/libzstd.a" ]; then
  install_zstd "$zstd_key"
fi
echo "$prefix"
