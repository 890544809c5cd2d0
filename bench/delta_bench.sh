#!/usr/bin/env bash
# Wire bytes, CPU and peak memory of a module update through patches, side by side in one
# run with the full archives, bsdiff and "zstd -19 --long=27 --patch-from".
# Usage: bench/delta_bench.sh OLD NEW [OLD NEW ...]   (pairs of real binaries: the same
# module at an earlier and a later release). Needs build/bin/ovpublish and
# build/bin/bench_patch_apply, bsdiff and zstd (scripts/setup-debian.sh installs them).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${OV_BUILD:-$root/build}/bin
[ $# -ge 2 ] && [ $(($# % 2)) -eq 0 ] || { sed -n 2,6p "$0" >&2; exit 2; }
work=$(mktemp -d "${TMPDIR:-/tmp}/delta-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cpu() { /usr/bin/time -f '%U %S' "$@" 2>&1 >/dev/null | tail -1 | awk '{printf "%.0f", ($1 + $2) * 1000}'; }
peak() { /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -1; }

printf '%-22s %10s %10s %10s %10s %10s %7s %7s %9s %9s %9s %9s\n' module new_bytes zip ovpatch bsdiff zstd \
  vs_best vs_zip apply_ms unzip_ms peak_kib max_kib
tz=0 tp=0 tb=0 tzs=0
while [ $# -ge 2 ]; do
  old=$1 new=$2; shift 2
  name=$(basename "$new")
  rm -rf "$work/src" "$work/prev" "$work/out"; mkdir -p "$work/src" "$work/prev"
  cp "$old" "$work/prev/$name"; cp "$new" "$work/src/$name"
  "$bin/ovpublish" modules "$work/src" "$work/out" --delta-from "$work/prev" >/dev/null
  zip="$work/out/bin/$name.zip"
  patch=$(ls "$work/out/bin/$name".*.patch 2>/dev/null | head -1 || true)
  bsdiff "$old" "$new" "$work/p.bsdiff"
  zstd -q -19 --long=27 --patch-from="$old" "$new" -o "$work/p.zst" -f 2>/dev/null
  s() { stat -c %s "$1"; }
  zb=$(s "$zip") bb=$(s "$work/p.bsdiff") sb=$(s "$work/p.zst")
  if [ -z "$patch" ]; then  # not worth a patch: the archive goes on the wire
    pb=$zb apply=- unzip=- pk=-
  else
    pb=$(s "$patch")
    read -r apply unzip < <("$bin/bench_patch_apply" "$old" "$patch" "$zip" 5 | sed 's/[a-z_]*=//g')
    pk=$(peak "$bin/bench_patch_apply" --once "$old" "$patch" "$work/patched")
    cmp -s "$work/patched" "$new" || { echo "$name: the patch does not give the new file" >&2; exit 1; }
  fi
  best=$((bb < sb ? bb : sb))
  largest=$(( ($(s "$old") > $(s "$new") ? $(s "$old") : $(s "$new")) / 1024 ))
  printf '%-22s %10d %10d %10d %10d %10d %7.2f %6.1f%% %9s %9s %9s %9d\n' "$name" "$(s "$new")" "$zb" "$pb" "$bb" "$sb" \
    "$(echo "$pb / $best" | bc -l)" "$(echo "100 * $pb / $zb" | bc -l)" "$apply" "$unzip" "$pk" \
    $((largest * 5 / 2 + 32768))
  tz=$((tz + zb)) tp=$((tp + pb)) tb=$((tb + bb)) tzs=$((tzs + sb))
done
printf 'total: zip %d, ovpatch %d (%.1f%% of zip), bsdiff %d, zstd %d; ovpatch / better tool %.2f\n' "$tz" "$tp" \
  "$(echo "100 * $tp / $tz" | bc -l)" "$tb" "$tzs" "$(echo "$tp / $((tb < tzs ? tb : tzs))" | bc -l)"
echo "goals: vs_best <= 1.10, total <= 20% of zip, apply_ms <= 2 x unzip_ms, peak_kib <= max_kib (2.5 x largest module + 32 MiB)"
