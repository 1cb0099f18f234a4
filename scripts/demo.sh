#!/usr/bin/env bash
# Builds the programs, draws a sample A4 page at 200 dpi, translates it with vantrel and shows the results.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 --target vantrel drawgen >/dev/null

out=build/demo
rm -rf "$out"
mkdir -p "$out"

echo "== drawgen: a synthetic drawing, A4 portrait at 200 dpi"
build/drawgen -p a4 -dpi 200 -seed 1 "$out/sample.pbm"
build/drawgen -p a4 -dpi 200 -seed 1 -f rnl "$out/sample.rnl"
echo "$out/sample.pbm and $out/sample.rnl written"
echo

echo "== vantrel $out/sample.rnl $out/translated.rnl"
# vantrel exits with 1 when the translation is complete, 0 otherwise.
set +e
build/vantrel "$out/sample.rnl" "$out/translated.rnl"
status=$?
set -e
echo "(exit status $status)"
echo

echo "== results"
ls -l "$out"
pamfile "$out/sample.pbm"
if cmp -s "$out/sample.rnl" "$out/translated.rnl"; then
  echo "translated.rnl is byte for byte the same as sample.rnl"
fi
if [ "$status" -ne 1 ]; then
  echo "demo: the translation did not complete" >&2
  exit 1
fi
