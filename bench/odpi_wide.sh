#!/usr/bin/env bash
# The resize path on a very wide white page: a native Group 4 page of 8,000,000 x 1,000 white lines at 400
# dpi (the most lines the pixel budget allows at that width; a few hundred bytes, every line one
# vertical-mode code) translated with -odpi 200 (lines merged two by two, runs halved) and -odpi 400 (the
# same size, every line through the resize path) into native run-length. The cost per line shows whether
# lines are scaled as run lists (cost by runs) or through a row bitmap (cost by width).
# Median of N whole-program runs (default 5) with peak resident memory, for one or more builds.
# Usage: bench/odpi_wide.sh [runs] [build dir...]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
shift || true
builds=("$@")
[ ${#builds[@]} -gt 0 ] || builds=(build)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

width=8000000
lines=1000
# Wider than the default page budget of 2^20 columns: raised for these runs.
export ZEB_MAXPAGE=$((1 << 24))
# A native Group 4 header from drawgen, with the width and height patched; then one V0 code (bit 1) per
# white line, the end-of-block code, zero bits to a whole word.
"${builds[0]}/drawgen" -w 64 -h 2 -f g4 "$work/small.g4"
/usr/bin/python3 - "$work/small.g4" "$work/wide.g4" "$width" "$lines" <<'EOF'
import struct, sys
src, dst, width, lines = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
data = open(src, 'rb').read()
header_length = struct.unpack('>I', data[10:14])[0]
header = bytearray(data[:header_length])
header[26:30] = struct.pack('>I', lines)
header[30:34] = struct.pack('>I', width)
bits = '1' * lines + '000000000001' * 2
bits += '0' * (-len(bits) % 32)
body = int(bits, 2).to_bytes(len(bits) // 8, 'big')
open(dst, 'wb').write(bytes(header) + body)
EOF

for build in "${builds[@]}"; do
  for dpi in 200 400; do
    times=()
    peak=0
    for _ in $(seq "$runs"); do
      start=$(date +%s%N)
      rc=0
      /usr/bin/time -f '%M' -o "$work/rss" "$build/vantrel" "$work/wide.g4" "$work/out.rnl" -odpi "$dpi" \
        >/dev/null || rc=$?
      end=$(date +%s%N)
      [ "$rc" -eq 1 ] || { echo "odpi_wide: $build/vantrel failed (exit status $rc)" >&2; exit 1; }
      times+=($(( (end - start) / 1000 )))
      kib=$(tail -n 1 "$work/rss")
      [ "$kib" -gt "$peak" ] && peak=$kib
      rm -f "$work/out.rnl"
    done
    median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p")
    printf '%-28s -odpi %-4s %8.1f ms  %6.2f us/input line  peak %6d KiB\n' "$build" "$dpi" \
      "$(echo "$median / 1000" | bc -l)" "$(echo "$median / $lines" | bc -l)" "$peak"
  done
done
