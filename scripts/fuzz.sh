#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan+UBSan) in build-fuzz/ and runs each fuzz/*_fuzz target over
# its corpus fuzz/corpus/<name> for the given number of seconds (default 60). New inputs the fuzzer finds
# go to build-fuzz/corpus-new/<name>; crashes to build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

seconds="${1:-60}"
case "$seconds" in
  ''|*[!0-9]*) echo "usage: scripts/fuzz.sh [seconds per target]" >&2; exit 2 ;;
esac

bash scripts/setup.sh

targets=()
for src in fuzz/*_fuzz.cpp; do
  [ -e "$src" ] || continue
  targets+=("$(basename "$src" .cpp)")
done
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no fuzz targets in fuzz/" >&2
  exit 1
fi

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Asan -DCMAKE_CXX_COMPILER=clang++ -DVANTREL_FUZZ=ON \
  -DVANTREL_TESTS=OFF -DVANTREL_BENCH=OFF >/dev/null
cmake --build build-fuzz -j2 --target "${targets[@]}"

mkdir -p build-fuzz/artifacts
failed=0
for target in "${targets[@]}"; do
  name="${target%_fuzz}"
  corpus="fuzz/corpus/$name"
  scratch="build-fuzz/corpus-new/$name"
  mkdir -p "$scratch"
  [ -d "$corpus" ] || corpus=""
  echo "== $target for ${seconds}s"
  # The scratch directory comes first: libFuzzer writes new inputs there, never into the source tree.
  if ! "build-fuzz/$target" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="build-fuzz/artifacts/$target-" "$scratch" ${corpus:+"$corpus"}; then
    echo "== $target FAILED (see build-fuzz/artifacts/)"
    failed=1
  fi
done
exit "$failed"
