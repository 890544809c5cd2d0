#!/usr/bin/env bash
# Cross-builds the libraries Debian ships no MinGW build of (libcurl, minizip) from
# Debian's own source packages, static, for i686, into a cache that later runs reuse.
# Usage: build-deps.sh [i686|x86_64]; prints the install prefix on its last line.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
arch=${1:-i686}
triple=$arch-w64-mingw32
cache=${OV_DEPS_CACHE:-$HOME/.cache/ovupdate-deps}

curl_version=$(apt-cache showsrc curl 2>/dev/null | awk '/^Version:/ {print $2}' | sort -V | tail -1)
minizip_version=$(apt-cache showsrc minizip 2>/dev/null | awk '/^Version:/ {print $2}' | sort -V | tail -1)
gcc_version=$($triple-gcc-posix -dumpversion)
if [ -z "$curl_version" ] || [ -z "$minizip_version" ]; then
  echo "build-deps: no source package of curl or minizip (run setup-system.sh first)" >&2
  exit 1
fi
key="curl-$curl_version minizip-$minizip_version gcc-$gcc_version"
prefix="$cache/$triple"
stamp="$prefix/.built"

if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$key" ]; then
  echo "$prefix"
  exit 0
fi

echo "build-deps: building $key" >&2
rm -rf "$prefix"
work=$(mktemp -d "${TMPDIR:-/tmp}/ovupdate-deps.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$prefix/include/minizip" "$prefix/lib"

cd "$work"
apt-get source -q --only-source curl minizip >apt-source.log 2>&1 || {
  cat apt-source.log >&2
  exit 1
}

# libcurl: HTTP only, Schannel for TLS with the Windows certificate store, zlib for
# gzip content decoding.
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

# minizip: the four files the agent needs (zip reading, the Win32 file layer).
mz_src=$(find . -maxdepth 1 -type d \( -name 'minizip-*' -o -name 'zlib-*' \) | head -1)
mz_dir=$(dirname "$(find "$mz_src" -name unzip.c | head -1)")
objs=()
for f in ioapi unzip zip iowin32; do
  $triple-gcc-posix -O2 -c "$mz_dir/$f.c" -o "$work/mz-$f.o" -I"$mz_dir"
  objs+=("$work/mz-$f.o")
done
$triple-ar rcs "$prefix/lib/libminizip.a" "${objs[@]}"
cp "$mz_dir"/{ioapi.h,unzip.h,zip.h,iowin32.h} "$prefix/include/minizip/"
[ -f "$mz_dir/crypt.h" ] && cp "$mz_dir/crypt.h" "$prefix/include/minizip/"

echo "$key" >"$stamp"
echo "$prefix"
