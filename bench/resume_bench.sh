#!/bin/sh
# A package download cut once, then resumed: the agent (bench_resume_run, which resumes
# within the same download) beside `curl -o` followed by `curl -C - -o` over the same cut,
# from the same cutting server (bench/cutting_server.py, which drops the first answer after
# the cut). For each cut: the bytes the server sent (wire) against the file's size, and the
# wall time of the whole download, median of PAIRS pairs run in turn.
#
#   bench/resume_bench.sh [BUILD_DIR] [SIZE_MIB] [PAIRS]
set -eu
build=${1:-build}
size_mib=${2:-256}
pairs=${3:-3}
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/ovresume-XXXXXX")
server_pid=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

size=$((size_mib * 1024 * 1024))
head -c "$size" /dev/urandom > "$work/file.bin"
expected=$(md5sum < "$work/file.bin" | cut -d' ' -f1)
mkfifo "$work/in"
python3 "$here/cutting_server.py" "$work/file.bin" "$work/port" "$work/wire" < "$work/in" &
server_pid=$!
exec 3>"$work/in"
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
url="http://127.0.0.1:$(cat "$work/port")/file.bin"

now() { date +%s.%N; }
# Runs one download cut at $1 bytes with the command that follows; prints "<wire> <wall s>".
one() {
    cut_at=$1; shift
    rm -f "$work/out.bin" "$work/out.bin.partial" "$work/out.bin.partial.rec"; sync
    echo reset >&3; echo "cut $cut_at" >&3; sleep 0.2
    start=$(now)
    "$@" >/dev/null 2>&1 || true
    end=$(now)
    [ "$(md5sum < "$work/out.bin" | cut -d' ' -f1)" = "$expected" ] || { echo "wrong file" >&2; exit 1; }
    echo "$(cat "$work/wire") $(echo "$end - $start" | bc)"
}
agent() { "$bin/bench_resume_run" "$url" "$work/out.bin" "$size"; }
anchor() { curl -s -o "$work/out.bin" "$url" || curl -s -C - -o "$work/out.bin" "$url"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "download of $size_mib MiB cut once, then resumed, over loopback; $pairs pairs in turn"
printf '%-5s %-14s %12s %10s\n' cut who wire/size "wall s"
for percent in 50 90; do
    cut_at=$((size / 100 * percent))
    : > "$work/a"; : > "$work/c"
    for _ in $(seq "$pairs"); do
        one "$cut_at" agent >> "$work/a"
        one "$cut_at" anchor >> "$work/c"
    done
    for who in a c; do
        name=$([ "$who" = a ] && echo agent || echo "curl -C -")
        wire=$(cut -d' ' -f1 "$work/$who" | median)
        wall=$(cut -d' ' -f2 "$work/$who" | median)
        printf '%-5s %-14s %12.4f %10.3f\n' "$percent%" "$name" "$(echo "$wire / $size" | bc -l)" "$wall"
    done
done
