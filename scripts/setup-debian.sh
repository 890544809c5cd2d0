#!/usr/bin/env bash
# Installs what building, testing and the demo need on Debian 12. Safe to run again: when
# every package is already there it only checks and returns. Runs apt-get as root, through
# sudo when started by another user.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libcurl4-openssl-dev libminizip-dev zlib1g-dev librapidxml-dev libcpp-httplib-dev
  libgtest-dev googletest libbenchmark-dev libssl-dev
  libsodium-dev minisign openssl
  clang libclang-rt-14-dev
  python3
  squid
  libzstd-dev zstd bsdiff libdivsufsort-dev
)

missing=()
installed=$(dpkg-query -W -f='${Package} ${Status}\n' "${packages[@]}" 2>/dev/null | awk '/install ok installed/ {print $1}' || true)
for p in "${packages[@]}"; do
  grep -qx "$p" <<<"$installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "Run as root or install sudo: missing ${missing[*]}" >&2; exit 1; }
  as_root=(sudo)
fi
"${as_root[@]}" apt-get update -q
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
