#!/bin/sh
# Download of a large file over loopback followed by its digest check: the agent's transfer
# and package check (bench_download_bench) beside `curl -o` and `md5sum` of the same file
# from the same stand-in server, each under /usr/bin/time -v. Reports peak resident memory
# and throughput of both, best of ROUNDS runs each.
#
#   bench/download_bench.sh [BUILD_DIR] [SIZE_MIB] [ROUNDS]
set -eu
build=${1:-build}
size_mib=${2:-1024}
rounds=${3:-3}
bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/ovbench-XXXXXX")
server_pid=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

mkdir -p "$work/www/packages"
head -c $((size_mib * 1024 * 1024)) /dev/urandom > "$work/www/packages/big.bin"
"$bin/OvServer" --root "$work/www" > "$work/port" &
server_pid=$!
for _ in 1 2 3 4 5 6 7 8 9 10; do [ -s "$work/port" ] && break; sleep 0.2; done
url="http://127.0.0.1:$(head -n1 "$work/port")/packages/big.bin"
expected=$(md5sum < "$work/www/packages/big.bin" | cut -d' ' -f1)

# Prints "<peak KiB> <seconds>" of one timed command.
measure() {
    /usr/bin/time -v "$@" > /dev/null 2> "$work/time.txt" || { cat "$work/time.txt" >&2; exit 1; }
    awk -F': ' '/Maximum resident set size/ { kib = $2 }
                /Elapsed \(wall clock\)/ { n = split($2, t, ":"); s = 0
                                            for (i = 1; i <= n; i++) s = s * 60 + t[i] }
                END { print kib, s }' "$work/time.txt"
}

best() {  # name, then the command
    name=$1; shift
    best_s=; best_kib=
    for _ in $(seq "$rounds"); do
        rm -f "$work/out.bin"
        result=$(measure "$@")
        kib=${result% *}; s=${result#* }
        [ "$(md5sum < "$work/out.bin" | cut -d' ' -f1)" = "$expected" ] || { echo "$name: wrong file" >&2; exit 1; }
        if [ -z "$best_s" ] || awk "BEGIN { exit !($s < $best_s) }"; then best_s=$s; fi
        if [ -z "$best_kib" ] || [ "$kib" -gt "$best_kib" ]; then best_kib=$kib; fi
    done
    awk -v n="$name" -v s="$best_s" -v k="$best_kib" -v m="$size_mib" \
        'BEGIN { printf "%-8s peak %6.1f MiB   best %6.2f s   %7.1f MiB/s\n", n, k / 1024, s, m / s }'
    echo "$best_s" > "$work/$name.s"
}

echo "download and digest check of $size_mib MiB over loopback, best of $rounds (peak memory: highest of the runs)"
best agent "$bin/bench_download_bench" "$url" "$work/out.bin" "$expected"
best curl sh -c 'curl -s -o "$1" "$2" && md5sum "$1"' sh "$work/out.bin" "$url"
awk -v a="$(cat "$work/agent.s")" -v c="$(cat "$work/curl.s")" \
    'BEGIN { printf "agent throughput / curl throughput = %.2f\n", c / a }'
