#!/usr/bin/env bash
# Throughput of the scale-out recipe: scripts/convert-tree.sh over a tree of drawgen files to CALS, with
# 1 and with 2 jobs, in files per second (best of `rounds`). Usage:
#   bench/convert_tree.sh [files] [rounds] [build dir] [width] [height]
# Defaults: 200 files of 1200 x 900 pixels (the size of the scale-out test), 3 rounds, build/.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
files="${1:-200}"
rounds="${2:-3}"
build="$(cd "${3:-build}" && pwd)"
width="${4:-1200}"
height="${5:-900}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export VANTREL="$build/vantrel"

for i in $(seq 1 "$files"); do
  mkdir -p "$work/src/part$((i % 4))"
  "$build/drawgen" -w "$width" -h "$height" -seed "$i" -f rnl "$work/src/part$((i % 4))/sheet$i.rnl"
done
echo "$files files of $width x $height pixels (native run-length, $(du -sh "$work/src" | cut -f1)) to CALS"

for jobs in 1 2; do
  best=""
  for _ in $(seq 1 "$rounds"); do
    rm -rf "$work/dst"
    start=$(date +%s.%N)
    bash scripts/convert-tree.sh "$work/src" "$work/dst" cg4 -j"$jobs"
    seconds=$(echo "$(date +%s.%N) - $start" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$seconds < $best" | bc -l)" -eq 1 ]; then best=$seconds; fi
  done
  printf '%d job(s): %.2f s, %.1f files/s\n' "$jobs" "$best" "$(echo "$files / $best" | bc -l)"
done
# The same files by plain vantrel runs one after another, without parallel.
start=$(date +%s.%N)
while IFS= read -r -d '' input; do
  "$VANTREL" "$input" "$work/plain.cg4" >/dev/null || true
done < <(find "$work/src" -type f -print0)
seconds=$(echo "$(date +%s.%N) - $start" | bc -l)
printf 'plain loop: %.2f s, %.1f files/s\n' "$seconds" "$(echo "$files / $seconds" | bc -l)"
