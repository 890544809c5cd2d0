#!/bin/sh
# A large package download through a local proxy (Debian's squid, its own configuration
# in a temporary folder, caching off) beside the same download direct, in turn (direct,
# proxied, direct, ...), both by the agent's transfer and package check
# (bench_download_bench) from the same stand-in server. The proxied run names the server
# by a host name only the proxy resolves, so it cannot go direct. Reports the median wall
# times and the median of the wall-time ratios pair by pair.
#
#   bench/proxy_bench.sh [BUILD_DIR] [SIZE_MIB] [PAIRS]
set -eu
build=${1:-build}
size_mib=${2:-256}
pairs=${3:-5}
bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/ovbench-XXXXXX")
chmod 755 "$work"
server_pid= squid_pid=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
    [ -n "$squid_pid" ] && kill "$squid_pid" 2>/dev/null && sleep 0.5
    rm -f /dev/shm/ovbenchproxy-*
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

. "$(dirname "$0")/serve_package.sh"
serve_random_package

proxy_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
echo "127.0.0.1 packages.behind-proxy.test" > "$work/hosts"
cat > "$work/squid.conf" <<CONF
http_port 127.0.0.1:$proxy_port
pid_filename none
access_log none
cache deny all
pinger_enable off
shutdown_lifetime 0 seconds
cache_effective_user proxy
dns_nameservers 127.0.0.1
cache_log $work/cache.log
hosts_file $work/hosts
http_access allow all
read_ahead_gap 64 MB
tcp_recv_bufsize 1 MB
memory_pools on
CONF
chmod 777 "$work"
squid -N -n ovbenchproxy -f "$work/squid.conf" > "$work/squid.out" 2>&1 &
squid_pid=$!
for _ in $(seq 50); do
    curl -s -o /dev/null -x "http://127.0.0.1:$proxy_port" "http://packages.behind-proxy.test:$port/" && break
    sleep 0.2
done

# Appends the wall seconds of one download to the file named first.
measure() {
    into=$1; shift
    rm -f "$work/out.bin"; sync
    start=$(date +%s.%N)
    "$@" > /dev/null || { cat "$work/squid.out" "$work/cache.log" >&2 2>/dev/null; exit 1; }
    end=$(date +%s.%N)
    [ "$(md5sum < "$work/out.bin" | cut -d' ' -f1)" = "$expected" ] || { echo "wrong file" >&2; exit 1; }
    echo "$start $end" | awk '{ print $2 - $1 }' >> "$into"
}

median() {  # column of a file
    sort -g -k"$2" "$1" | awk -v c="$2" '{ v[NR] = $c } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo "download and digest check of $size_mib MiB over loopback, direct and through squid, $pairs pairs in turn"
: > "$work/direct"; : > "$work/proxied"
for _ in $(seq "$pairs"); do
    measure "$work/direct" env -u http_proxy -u https_proxy \
        "$bin/bench_download_bench" "http://127.0.0.1:$port/packages/big.bin" "$work/out.bin" "$expected"
    measure "$work/proxied" env http_proxy="http://127.0.0.1:$proxy_port" \
        "$bin/bench_download_bench" "http://packages.behind-proxy.test:$port/packages/big.bin" "$work/out.bin" "$expected"
done
rm -f "$work/out.bin"
for name in direct proxied; do
    awk -v n="$name" -v w="$(median "$work/$name" 1)" -v m="$size_mib" \
        'BEGIN { printf "%-8s wall %6.2f s  %7.1f MiB/s (median)\n", n, w, m / w }'
done
paste "$work/proxied" "$work/direct" | awk '{ print $1 / $2 }' > "$work/ratios"
echo "wall ratio proxied / direct, pair by pair: $(tr '\n' ' ' < "$work/ratios")"
echo "median wall ratio: $(median "$work/ratios" 1)"
