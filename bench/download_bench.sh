#!/bin/sh
# Download of a large file over loopback followed by its digest check: the agent's transfer
# and package check (bench_download_bench) beside `curl -o` followed by `md5sum` of the same
# file from the same stand-in server, in turn (agent, anchor, agent, ...), each under
# /usr/bin/time -v. Reports the medians of wall time, CPU and peak memory, and the median of
# the wall-time ratios pair by pair.
#
# What is timed is the download and the check only: before each run the previous run's
# file is removed and the page cache written out (`sync`), so that no run pays for another's
# clean-up (removing a 1 GiB file the agent has flushed takes ext4 a few tenths of a second;
# the anchor's file, never flushed, would otherwise be written out during a later run).
#
#   bench/download_bench.sh [BUILD_DIR] [SIZE_MIB] [PAIRS]
set -eu
build=${1:-build}
size_mib=${2:-1024}
pairs=${3:-5}
bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/ovbench-XXXXXX")
server_pid=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

. "$(dirname "$0")/serve_package.sh"
serve_random_package
url="http://127.0.0.1:$port/packages/big.bin"

# Appends "<wall s> <cpu s> <peak KiB>" of one timed command to the file named first.
measure() {
    into=$1; shift
    rm -f "$work/out.bin"; sync
    /usr/bin/time -v "$@" > /dev/null 2> "$work/time.txt" || { cat "$work/time.txt" >&2; exit 1; }
    [ "$(md5sum < "$work/out.bin" | cut -d' ' -f1)" = "$expected" ] || { echo "wrong file" >&2; exit 1; }
    awk -F': ' '/User time/ { u = $2 } /System time/ { s = $2 } /Maximum resident set size/ { kib = $2 }
                /Elapsed \(wall clock\)/ { n = split($2, t, ":"); w = 0
                                            for (i = 1; i <= n; i++) w = w * 60 + t[i] }
                END { print w, u + s, kib }' "$work/time.txt" >> "$into"
}

median() {  # column of a file
    sort -g -k"$2" "$1" | awk -v c="$2" '{ v[NR] = $c } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo "download and digest check of $size_mib MiB over loopback, $pairs pairs in turn"
: > "$work/agent"; : > "$work/curl"
for _ in $(seq "$pairs"); do
    measure "$work/agent" "$bin/bench_download_bench" "$url" "$work/out.bin" "$expected"
    measure "$work/curl" sh -c 'curl -s -o "$1" "$2" && md5sum "$1"' sh "$work/out.bin" "$url"
done
rm -f "$work/out.bin"
for name in agent curl; do
    awk -v n="$name" -v w="$(median "$work/$name" 1)" -v c="$(median "$work/$name" 2)" \
        -v k="$(median "$work/$name" 3)" -v m="$size_mib" \
        'BEGIN { printf "%-6s wall %6.2f s  cpu %6.2f s  peak %6.1f MiB  %7.1f MiB/s (medians)\n", n, w, c, k / 1024, m / w }'
done
paste "$work/agent" "$work/curl" | awk '{ print $1 / $4 }' > "$work/ratios"
echo "wall ratio agent / (curl -o + md5sum), pair by pair: $(tr '\n' ' ' < "$work/ratios")"
echo "median wall ratio: $(median "$work/ratios" 1)"
