#!/usr/bin/env bash
# Side-by-side timings of the translator on the drawgen A0 page at 400 dpi (13244 x 18724):
# writing each plotter and printer stream against writing native run-length from the same input.
# Median of N runs (default 5) each, with peak resident memory. Usage: bench/compare.sh [runs] [build dir]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
build=${2:-build}
[ -x "$build/vantrel" ] && [ -x "$build/drawgen" ] || {
  bash scripts/setup.sh
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  ninja -C "$build" vantrel drawgen >/dev/null
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/drawgen" -f rnl "$work/page.rnl"

# Prints "median-seconds peak-KiB" of translating the page into the given output name.
measure() {
  local out=$1 times=() peak=0
  for _ in $(seq "$runs"); do
    local start end kib
    start=$(date +%s%N)
    # The translator exits 1 when the translation is complete.
    local rc=0
    /usr/bin/time -f '%M' -o "$work/rss" "$build/vantrel" "$work/page.rnl" "$work/$out" >/dev/null || rc=$?
    [ "$rc" -eq 1 ] || { echo "compare: translating to $out failed" >&2; exit 1; }
    end=$(date +%s%N)
    times+=($(( (end - start) / 1000 )))
    kib=$(tail -n 1 "$work/rss")
    [ "$kib" -gt "$peak" ] && peak=$kib
    rm -f "$work/$out"
  done
  local median
  median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p")
  echo "$median $peak"
}

read -r base base_rss < <(measure out.rnl)
printf '%-12s %10s %8s %10s\n' output seconds ratio peak-MiB
printf '%-12s %10.3f %8s %10.1f\n' rnl "$(echo "$base / 1000000" | bc -l)" 1.00 "$(echo "$base_rss / 1024" | bc -l)"
for out in out.pcl out.rtl out.hpg out.vbf out.crf out.ps; do
  read -r t rss < <(measure "$out")
  printf '%-12s %10.3f %8.2f %10.1f\n' "${out#out.}" "$(echo "$t / 1000000" | bc -l)" \
    "$(echo "$t / $base" | bc -l)" "$(echo "$rss / 1024" | bc -l)"
done
