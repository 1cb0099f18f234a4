#!/usr/bin/env bash
# The batch translator's speed: 20 drawgen A0 pages (400 dpi, Group 4 TIFF, seeds 1..20) translated to
# CALS by one vantrelw batch run and by 20 vantrel runs, with the longest stall of vantrelw's interface
# thread. Usage: bench/vantrelw_timing.sh [rounds] [build dir]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
rounds="${1:-3}"
build="${2:-build}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
inputs=()
for seed in $(seq 20); do
  "$build/drawgen" -seed "$seed" -f tif "$work/page$seed.tif"
  inputs+=("$work/page$seed.tif")
done
"$build/vantrelw_timing" "$build/vantrel" "$work/out" "$rounds" "${inputs[@]}"
