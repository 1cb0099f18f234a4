#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan+UBSan) in build-fuzz/ and runs each one over its corpus
# fuzz/corpus/<name> for the given number of CPU seconds (default 60).
#   scripts/fuzz.sh [--background] [--merge] [seconds] [name ...]
# Names pick targets (tiff, mmr, transform, ...); none: every fuzz/*_fuzz.cpp. New inputs go to
# build-fuzz/corpus-new/<name>, crashes and hangs (over 60 s an input) to build-fuzz/artifacts/, and one
# line per target ("target CPU-seconds executions status") to build-fuzz/fuzz-runs.tsv.
#   --merge       afterwards, minimise: fuzz/corpus/<name> becomes the smallest set of its files and the
#                 new inputs that keeps the coverage of both (the files to commit)
#   --background  run at the lowest priority, detached, with the output in build-fuzz/fuzz.log; prints
#                 the process id and returns at once, so that other work goes on beside it
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

merge=0
background=0
seconds=60
names=()
for arg in "$@"; do
  case "$arg" in
    --merge) merge=1 ;;
    --background) background=1 ;;
    ''|*[!0-9]*) names+=("$arg") ;;
    *) seconds="$arg" ;;
  esac
done

if [ "$background" = 1 ]; then
  mkdir -p build-fuzz
  args=()
  [ "$merge" = 1 ] && args+=(--merge)
  nohup nice -n 19 bash "$0" "${args[@]}" "$seconds" "${names[@]}" >build-fuzz/fuzz.log 2>&1 </dev/null &
  echo "fuzz: running in the background as process $! (output in build-fuzz/fuzz.log)"
  exit 0
fi

bash scripts/setup.sh

targets=()
if [ ${#names[@]} -eq 0 ]; then
  for src in fuzz/*_fuzz.cpp; do
    [ -e "$src" ] && targets+=("$(basename "$src" .cpp)")
  done
else
  for name in "${names[@]}"; do
    [ -e "fuzz/${name}_fuzz.cpp" ] || { echo "fuzz: no target fuzz/${name}_fuzz.cpp" >&2; exit 2; }
    targets+=("${name}_fuzz")
  done
fi
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
  mkdir -p "$scratch" "$corpus"
  echo "== $target for ${seconds} CPU seconds"
  status=ok
  cpu=0
  runs=0
  # libFuzzer bounds wall time; on a shared machine a run gets less CPU than that, so it runs again until
  # the CPU time (user + system) reaches the budget.
  while [ "$cpu" -lt "$seconds" ]; do
    # The scratch directory comes first: libFuzzer writes new inputs there, never into the source tree.
    if ! /usr/bin/time -f "%U %S" -o "build-fuzz/$target.time" "build-fuzz/$target" \
        -max_total_time=$((seconds - cpu)) -timeout=60 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="build-fuzz/artifacts/$target-" "$scratch" "$corpus" >"build-fuzz/$target.log" 2>&1; then
      tail -n 40 "build-fuzz/$target.log"
      echo "== $target FAILED (see build-fuzz/artifacts/)"
      status=failed
      failed=1
      break
    fi
    grep -E '^(stat::|Done )' "build-fuzz/$target.log" || true
    used=$(tail -n 1 "build-fuzz/$target.time" | awk '{ printf "%d", $1 + $2 + 0.5 }')
    cpu=$((cpu + (used > 0 ? used : 1)))
    done_runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "build-fuzz/$target.log" | tail -n 1)
    runs=$((runs + ${done_runs:-0}))
  done
  printf '%s\t%s\t%s\t%s\n' "$target" "$cpu" "$runs" "$status" >>build-fuzz/fuzz-runs.tsv
  if [ "$merge" = 1 ] && [ "$status" = ok ]; then
    minimal="build-fuzz/corpus-min/$name"
    rm -rf "$minimal"
    mkdir -p "$minimal"
    "build-fuzz/$target" -merge=1 -timeout=60 -rss_limit_mb=2048 "$minimal" "$corpus" "$scratch" >/dev/null 2>&1
    rm -rf "$corpus"
    mv "$minimal" "$corpus"
    echo "== $target corpus minimised to $(find "$corpus" -type f | wc -l) files"
  fi
done
exit "$failed"
