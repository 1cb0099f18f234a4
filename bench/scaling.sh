#!/usr/bin/env bash
# Memory and time of a plain translation against the page size: drawgen pages of 1/4, 1, 4 and 16 times the
# A0 area at 400 dpi, as one-strip Group 4 TIFF translated to CALS, on the clean and the scanned page. For
# each: the changing elements (both ends of every black run, counted from the page as run lists), the CPU
# time (user + system, median of N runs, default 3), the nanoseconds per changing element and the peak
# resident memory. A translation holds a line at a time, so the memory stays the same at every size and
# the time follows the changing elements.
#   bench/scaling.sh [runs] [build dir]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
build=$(realpath "${2:-build}")
[ -x "$build/vantrel" ] && [ -x "$build/drawgen" ] || { echo "scaling: build $build first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The run-list dump (format id 1): "RUN1", width, height, then per line its run count and 2n boundaries,
# all 4-byte words, so its words less the header and the counts are the changing elements.
elements() {
  local bytes height=$2
  bytes=$(stat -c %s "$1")
  echo $(((bytes - 12) / 4 - height))
}

printf '| page | pixels | changing elements | CPU s | ns per element | peak MiB |\n|---|---:|---:|---:|---:|---:|\n'
for look in clean scanned; do
  for size in "1/4 A0:6622:9362" "A0:13244:18724" "4 A0:26488:37448" "16 A0:52976:74896"; do
    IFS=: read -r name width height <<<"$size"
    flags=(-w "$width" -h "$height" -dpi 400)
    [ "$look" = scanned ] && flags+=(-scan)
    "$build/drawgen" "${flags[@]}" -f tif "$work/page.tif" >/dev/null
    "$build/drawgen" "${flags[@]}" -f 1 "$work/page.dmp" >/dev/null
    count=$(elements "$work/page.dmp" "$height")
    rm -f "$work/page.dmp"
    cpus=()
    peak=0
    for ((i = 0; i < runs; ++i)); do
      rc=0
      # The shell's own timer counts CPU time in milliseconds; /usr/bin/time gives the peak memory.
      { TIMEFORMAT='%3U %3S'; time /usr/bin/time -f "%M" -o "$work/rss" "$build/vantrel" "$work/page.tif" \
          "$work/out.cg4" >/dev/null 2>&1 || rc=$?; } 2>"$work/cpu"
      [ "$rc" = 1 ] || { echo "scaling: vantrel failed on $name ($look)" >&2; exit 1; }
      read -r user sys <"$work/cpu"
      cpus+=("$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.3f", u + s }')")
      kib=$(tail -n 1 "$work/rss")
      [ "$kib" -gt "$peak" ] && peak=$kib
      rm -f "$work/out.cg4"
    done
    cpu=$(printf '%s\n' "${cpus[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
    awk -v n="$name $look" -v w="$width" -v h="$height" -v e="$count" -v c="$cpu" -v k="$peak" \
      'BEGIN { printf "| %s | %d x %d | %d | %.3f | %.1f | %.1f |\n", n, w, h, e, c, c * 1e9 / e, k / 1024 }'
  done
done
