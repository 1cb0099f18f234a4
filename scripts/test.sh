#!/usr/bin/env bash
# Builds and runs the whole test suite twice: a Release build in build/ and an ASan+UBSan build in
# build-asan/. Exits non-zero when a build or any test fails.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/setup.sh

# Sanitizer reports end the process with a stack; leaks count as failures.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

failed=0
for config in Release:build Asan:build-asan; do
  type="${config%%:*}"
  dir="${config#*:}"
  echo "== $type build in $dir"
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" >/dev/null
  cmake --build "$dir" -j2
  echo "== $type tests"
  if ! (cd "$dir" && ctest --output-on-failure -j2); then
    echo "== $type tests FAILED"
    failed=1
  fi
done
exit "$failed"
