#!/usr/bin/env bash
# Prints one line "sha256 case" for every output of a translator build: every written format from drawgen
# pages of several sizes, and the console's geometry options (-dpi, -xdpi, -ydpi, -odpi, -rot, -size) on a
# few formats. Two builds that print the same lines write the same bytes. The exit status of each run is
# part of its line, so a refusal that changes also shows.
#   bench/output_hashes.sh [build dir] > hashes.txt
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$(realpath "${1:-build}")
[ -x "$build/vantrel" ] && [ -x "$build/drawgen" ] || { echo "output_hashes: build $build first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The messages name the files: relative names keep them the same from one run to the next.
cd "$work"

formats="rnl g3 g4 cg4 rlc rtl ps tif jdl crf pcl opt vbf pcx rle tiffu tiffg3 grphtec img tiled jd4 hpg mmr
gp4 mil tg4 cit c4 b4"

# One translation: the status and the output's hash (or "-" when no file is left).
run() {
  local label=$1 in=$2 out=$3 rc=0
  shift 3
  rm -f "$out"
  "$build/vantrel" "$in" "$out" "$@" >"log" 2>&1 || rc=$?
  local hash=-
  [ -f "$out" ] && hash=$(sha256sum <"$out" | cut -c1-64)
  echo "$hash rc=$rc $(sha256sum <"log" | cut -c1-12) $label"
}

pages=("a4:-p a4 -dpi 200" "odd:-w 1001 -h 403 -dpi 300 -seed 7" "wide:-w 40000 -h 64 -dpi 400 -seed 3"
  "tiny:-w 1 -h 1" "scan:-p a3 -dpi 300 -scan -seed 5")
for page in "${pages[@]}"; do
  name=${page%%:*}
  # shellcheck disable=SC2086
  # TIFF sources: drawgen's run-length output stops short of the wide page.
  "$build/drawgen" ${page#*:} -f tif "$name.src"
  for f in $formats; do run "$name -> $f" "$name.src" "out.$f"; done
done

# Inputs of every readable format the writers made, copied back to run-length.
for page in odd scan; do
  for f in g3 g4 cg4 tif opt tiffu tiffg3 tiled mmr pcx rlc img c4 b4 cit; do
    "$build/vantrel" "$page.src" "src.$f" >/dev/null || true
    run "$page.$f -> rnl" "src.$f" "back.rnl"
  done
done

options=("-dpi 300" "-xdpi 100" "-ydpi 150" "-odpi 100" "-odpi 400" "-xdpi 333 -ydpi 77" "-rot 90" "-rot 180"
  "-rot 270" "-rot 90 -dpi 150" "-size a4" "-size a3l" "-odpi 100 -rot 90")
for opt in "${options[@]}"; do
  for f in rnl g4 cg4 tif tiled mmr pcl; do
    # shellcheck disable=SC2086
    run "odd $opt -> $f" "odd.src" "out.$f" $opt
    # shellcheck disable=SC2086
    run "a4 $opt -> $f" "a4.src" "out.$f" $opt
  done
  # shellcheck disable=SC2086
  run "scan $opt -> g4" "scan.src" "out.g4" $opt
done
# An A0 page at 200 dpi for the paper-size conversions into mmr.
"$build/drawgen" -p a0 -dpi 200 -f rnl "a0.src"
for size in a0 a1 a2 a3 a4 a2l; do run "a0 -size $size -> mmr" "a0.src" "out.mmr" -size "$size"; done

# TIFF strip sizes as the environment sets them, on every TIFF coding.
for strips in 0 1 7 64 100000; do
  for f in tif tiffu tiffg3; do
    ZEB_STRIPS=$strips run "a4 ZEB_STRIPS=$strips -> $f" "a4.src" "out.$f"
    ZEB_STRIPS=$strips run "odd ZEB_STRIPS=$strips -> $f" "odd.src" "out.$f"
  done
done
# TIFF reads of our own tiled and stripped files of the other page sizes.
for page in a4 wide tiny; do
  for f in tif tiffu tiffg3 tiled; do
    "$build/vantrel" "$page.src" "src.$f" >/dev/null || true
    run "$page.$f -> rnl" "src.$f" "back.rnl"
  done
done
# Real files other programs wrote, when the corpus is beside the checkout.
corpus=$here/../../shared/realworld
if [ -d "$corpus" ]; then
  for file in "$corpus"/*.tif "$corpus"/*.pcx; do
    cp "$file" "in.${file##*.}"
    run "$(basename "$file") -> rnl" "in.${file##*.}" "back.rnl"
  done
fi
