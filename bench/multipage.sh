#!/usr/bin/env bash
# Documents of many pages: an N-page Group 4 TIFF of A4 pages at 200 dpi (ten scanned-look drawgen pages,
# repeated), translated with -page all into one multi-page Group 4 TIFF and into PDF, against one page of it
# (-page 1) and against tiffcp copying the same file (libtiff decodes and codes every strip again). For each:
# the CPU time (user + system, median of R runs, default 3), the wall time of that run, the peak resident
# memory and the CPU time as a multiple of tiffcp's. Pages stream one after the other, so the memory stays
# that of one page and the time grows linearly with the pages, turned pages (-rot 90) included.
#   bench/multipage.sh [runs] [build dir] [pages ...]   (pages default: 500 2000)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
build=$(realpath "${2:-build}")
shift $(($# < 2 ? $# : 2))
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(500 2000)
[ -x "$build/vantrel" ] && [ -x "$build/drawgen" ] || { echo "multipage: build $build first" >&2; exit 1; }
command -v tiffcp >/dev/null || { echo "multipage: tiffcp is missing (libtiff-tools)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for seed in 1 2 3 4 5 6 7 8 9 10; do
  "$build/drawgen" -p a4 -dpi 200 -scan -seed "$seed" -f tif "$work/page$seed.tif" >/dev/null
done

# Median CPU seconds, its run's wall seconds and the peak KiB of `runs` runs of a command; exit status 0 or 1.
measure() {
  local cpus=() peak=0 rc
  for ((i = 0; i < runs; ++i)); do
    rc=0
    { TIMEFORMAT='%3U %3S %3R'; time /usr/bin/time -f "%M" -o "$work/rss" "$@" >/dev/null 2>&1 || rc=$?; } \
      2>"$work/cpu"
    [ "$rc" -le 1 ] || { echo "multipage: $* failed ($rc)" >&2; exit 1; }
    read -r user sys real <"$work/cpu"
    cpus+=("$(awk -v u="$user" -v s="$sys" -v r="$real" 'BEGIN { printf "%.3f %.3f", u + s, r }')")
    kib=$(tail -n 1 "$work/rss")
    [ "$kib" -gt "$peak" ] && peak=$kib
  done
  printf '%s %s\n' "$(printf '%s\n' "${cpus[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")" "$peak"
}

printf '| pages | job | CPU s | wall s | peak MiB | CPU vs tiffcp |\n|---:|---|---:|---:|---:|---:|\n'
for pages in "${counts[@]}"; do
  list=()
  for ((p = 0; p < pages; ++p)); do list+=("$work/page$((p % 10 + 1)).tif"); done
  tiffcp "${list[@]}" "$work/doc.tif"
  read -r base _ _ < <(measure tiffcp "$work/doc.tif" "$work/copy.tif")
  for job in "tiffcp:tiffcp $work/doc.tif $work/copy.tif" \
             "one page to TIFF:$build/vantrel $work/doc.tif $work/one.tif -page 1" \
             "every page to TIFF:$build/vantrel $work/doc.tif $work/all.tif -page all" \
             "every page to PDF:$build/vantrel $work/doc.tif $work/all.pdf -page all" \
             "every page turned to TIFF:$build/vantrel $work/doc.tif $work/all.tif -page all -rot 90"; do
    IFS=: read -r name command <<<"$job"
    # shellcheck disable=SC2086 # the command's words
    read -r cpu real kib < <(measure $command)
    awk -v p="$pages" -v n="$name" -v c="$cpu" -v r="$real" -v k="$kib" -v b="$base" \
      'BEGIN { printf "| %d | %s | %.3f | %.3f | %.1f | %.2fx |\n", p, n, c, r, k / 1024, c / b }'
  done
  rm -f "$work/doc.tif" "$work/copy.tif" "$work/one.tif" "$work/all.tif" "$work/all.pdf"
done
