#!/usr/bin/env bash
# Side-by-side timings of the translator on the drawgen A0 page at 400 dpi (13244 x 18724):
# 1. writing each plotter and printer stream and the CIT, PCX and run-length (Image Systems, Graphtec) files
#    against writing native run-length from the same input (the DI Group 4 writer, which no name selects,
#    through drawgen against drawgen writing rnl); then reading CIT (Group 4 and byte runs), DI Group 4, PCX,
#    Image Systems run-length (an input named .rlc) and a fixed-frame scan into native run-length against
#    reading native run-length;
# 2. native Group 4 to CALS against libtiff's tiffcp copying the same page as a one-strip Group 4 TIFF
#    (tiffcp decodes and re-encodes every line; we decode every line and carry the code over), with the
#    ratio vantrel / tiffcp; the same in 64-row strips; CALS to one-strip TIFF; the TIFF to
#    PostScript against the TIFF to CALS, and the PostScript's size against the TIFF's;
# 3. the one-strip Group 4 TIFF into the tiled repository formats (FileNet IMG, JEDMICS C4, EDMICS B4)
#    against the same page into CALS (the same Group 4 coding without the tiling), and each of them back
#    into TIFF against CALS into TIFF;
# 4. decoding the one-strip Group 4 TIFF alone: the translator writing native run-length to /dev/null against
#    libtiff_decode (bench/libtiff_decode.c, libtiff's TIFFReadScanline over every row);
# 5. Group 3 two-dimensional, LZW and Deflate TIFF into uncompressed TIFF against tiffcp -c none, in CPU time;
# 6. archival PDF: the one-strip Group 4 TIFF into PDF (its code carried over, decoded once) against the same
#    into CALS (decoded and coded afresh) and against tiff2pdf (which copies the strip without decoding); the
#    same page in 64-row strips into PDF (coded afresh) against tiff2pdf and img2pdf (when installed), which
#    re-code it; peak memory of each, and of both PDF cases at 4 times A0 (26488 x 37448, clean page only).
# Every table runs twice: on the clean drawgen page and on the scanned one (drawgen -scan: skew, ragged
# edges, specks, broken strokes). Median of N runs (default 5) each of the elapsed and the CPU time (user +
# system), with peak resident memory. Usage: bench/compare.sh [runs] [build dir] [all|pdf] (pdf: table 6 alone)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
build=${2:-build}
tables=${3:-all}
[ -x "$build/vantrel" ] && [ -x "$build/drawgen" ] || {
  bash scripts/setup.sh
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  ninja -C "$build" vantrel drawgen >/dev/null
}
[ -x "$build/libtiff_decode" ] || ninja -C "$build" libtiff_decode >/dev/null 2>&1 || true
for tool in pnmtotiff tiffcp tiffinfo tiff2pdf; do
  command -v "$tool" >/dev/null || { echo "compare: $tool is missing: run scripts/setup.sh" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Prints "median-microseconds peak-KiB median-CPU-microseconds" of running a command N times. Arguments: the
# exit status that means success, the output file (removed after each run), then the command. The CPU time
# is the user and system time of the command (and of /usr/bin/time around it, well under a millisecond).
measure_command() {
  local ok=$1 out=$2 times=() cpus=() peak=0
  shift 2
  for _ in $(seq "$runs"); do
    local start end kib rc=0 user sys
    start=$(date +%s%N)
    { TIMEFORMAT='%3U %3S'; time /usr/bin/time -f '%M' -o "$work/rss" "$@" >/dev/null 2>"$work/err" || rc=$?; } \
      2>"$work/cpu"
    [ "$rc" -eq "$ok" ] || { cat "$work/err" >&2; echo "compare: '$*' failed (exit status $rc)" >&2; exit 1; }
    end=$(date +%s%N)
    times+=($(( (end - start) / 1000 )))
    read -r user sys <"$work/cpu"
    cpus+=($(( 10#${user/./} * 1000 + 10#${sys/./} * 1000 )))
    kib=$(tail -n 1 "$work/rss")
    [ "$kib" -gt "$peak" ] && peak=$kib
    rm -f "$out"
  done
  local median cpu middle=$(( (runs + 1) / 2 ))
  median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "${middle}p")
  cpu=$(printf '%s\n' "${cpus[@]}" | sort -n | sed -n "${middle}p")
  echo "$median $peak $cpu"
}

# Seconds from microseconds, and a ratio of two of them.
sec() { echo "$1 / 1000000" | bc -l; }
ratio() { echo "$1 / $2" | bc -l; }

for look in clean scanned; do
page=()
[ "$look" = scanned ] && page=(-scan)
echo "==== $look page${page[*]:+ (drawgen ${page[*]})}"
echo
rm -f "$work"/*
"$build/drawgen" "${page[@]}" -f rnl "$work/page.rnl"
if [ "$tables" != pdf ]; then

# Translating the run-length page into the given output name. The translator exits 1 when the translation
# is complete.
measure() {
  measure_command 1 "$work/$1" "$build/vantrel" "$work/page.rnl" "$work/$1"
}

read -r base base_rss base_cpu < <(measure out.rnl)
printf '%-12s %10s %8s %10s %10s %10s\n' output seconds ratio peak-MiB cpu-s cpu-ratio
printf '%-12s %10.3f %8s %10.1f %10.3f %10s\n' rnl "$(sec "$base")" 1.00 "$(echo "$base_rss / 1024" | bc -l)" \
  "$(sec "$base_cpu")" 1.00
for out in out.pcl out.rtl out.hpg out.vbf out.crf out.ps out.jdl out.jd4 out.nkk out.cit out.pcx out.rlc out.grphtec \
  out.img out.c4 out.b4; do
  read -r t rss cpu < <(measure "$out")
  printf '%-12s %10.3f %8.2f %10.1f %10.3f %10.2f\n' "${out#out.}" "$(sec "$t")" "$(ratio "$t" "$base")" \
    "$(echo "$rss / 1024" | bc -l)" "$(sec "$cpu")" "$(ratio "$cpu" "$base_cpu")"
done

# The DI Group 4 writer has no name: drawgen writes it by number, against drawgen writing rnl.
read -r gen_rnl _ gen_rnl_cpu < <(measure_command 0 "$work/gen.rnl" "$build/drawgen" "${page[@]}" -f rnl \
  "$work/gen.rnl")
read -r t rss cpu < <(measure_command 0 "$work/gen.dsig4" "$build/drawgen" "${page[@]}" -f 13 "$work/gen.dsig4")
printf '%-12s %10.3f %8.2f %10.1f %10.3f %10.2f   (drawgen writing it, against drawgen writing rnl: %.3f s)\n' \
  "dsig4" "$(sec "$t")" "$(ratio "$t" "$gen_rnl")" "$(echo "$rss / 1024" | bc -l)" "$(sec "$cpu")" \
  "$(ratio "$cpu" "$gen_rnl_cpu")" "$(sec "$gen_rnl")"

# ---- readers: each input translated to rnl, against rnl to rnl of the same page
for f in cit pcx rlc img c4 b4; do "$build/vantrel" "$work/page.rnl" "$work/page.$f" >/dev/null || true; done
"$build/drawgen" "${page[@]}" -f 13 "$work/page.dsig4"
"$build/drawgen" "${page[@]}" "$work/page.pbm"
# CIT data type 9 from the PBM rows: every byte complemented, equal bytes in repeats of at most 63.
python3 - "$work/page.pbm" "$work/page.cit" "$work/runs.cit" <<'PY'
import re, sys
pbm = open(sys.argv[1], 'rb').read()
fields = pbm.split(b'\n', 2)
width, height = map(int, fields[1].split())
raster = fields[2]
header = bytearray(open(sys.argv[2], 'rb').read()[:1024])
header[4] = 9
row_bytes = (width + 7) // 8
out = [bytes(header)]
table = bytes(255 - b for b in range(256))
for y in range(height):
    row = raster[y * row_bytes:(y + 1) * row_bytes].translate(table)
    for m in re.finditer(rb'(.)\1{0,62}', row, re.S):
        run = m.end() - m.start()
        value = row[m.start()]
        out.append(bytes([value]) if run == 1 and value < 0xC0 else bytes([0xC0 | run, value]))
open(sys.argv[3], 'wb').write(b''.join(out))
PY
rm -f "$work/page.pbm"
# A fixed-frame scan: the smaller frame, 839 header bytes, then the rows of a drawgen page of that size.
"$build/drawgen" "${page[@]}" -w 6736 -h 4500 "$work/frame.pbm"
"$build/drawgen" "${page[@]}" -w 6736 -h 4500 -f rnl "$work/frame.rnl"
{ printf '\022'; head -c 838 /dev/zero; tail -c $(( 842 * 4500 )) "$work/frame.pbm"; } >"$work/frame.scan"
rm -f "$work/frame.pbm"

echo
printf '%-12s %10s %8s %10s %10s %10s\n' input seconds ratio peak-MiB cpu-s cpu-ratio
read_as_rnl() {
  measure_command 1 "$work/back.rnl" "$build/vantrel" "$1" "$work/back.rnl"
}
read -r base base_rss base_cpu < <(read_as_rnl "$work/page.rnl")
printf '%-12s %10.3f %8s %10.1f %10.3f %10s\n' rnl "$(sec "$base")" 1.00 "$(echo "$base_rss / 1024" | bc -l)" \
  "$(sec "$base_cpu")" 1.00
for in in page.cit runs.cit page.dsig4 page.pcx page.rlc page.img page.c4 page.b4; do
  read -r t rss cpu < <(read_as_rnl "$work/$in")
  printf '%-12s %10.3f %8.2f %10.1f %10.3f %10.2f\n' "$in" "$(sec "$t")" "$(ratio "$t" "$base")" \
    "$(echo "$rss / 1024" | bc -l)" "$(sec "$cpu")" "$(ratio "$cpu" "$base_cpu")"
done
read -r frame_base _ frame_base_cpu < <(read_as_rnl "$work/frame.rnl")
read -r t rss cpu < <(read_as_rnl "$work/frame.scan")
printf '%-12s %10.3f %8.2f %10.1f %10.3f %10.2f   (6736 x 4500, against its rnl: %.3f s)\n' frame.scan \
  "$(sec "$t")" "$(ratio "$t" "$frame_base")" "$(echo "$rss / 1024" | bc -l)" "$(sec "$cpu")" \
  "$(ratio "$cpu" "$frame_base_cpu")" "$(sec "$frame_base")"
rm -f "$work/page.cit" "$work/runs.cit" "$work/page.dsig4" "$work/page.pcx" "$work/page.rlc" "$work/frame.scan" \
  "$work/frame.rnl" "$work/page.img" "$work/page.c4" "$work/page.b4"

# ---- against libtiff

# One line of the second table: label, then "ours" and "theirs" as measure_command prints them.
print_pair() {
  local label=$1 ours_t ours_rss ours_cpu theirs_t theirs_rss theirs_cpu
  read -r ours_t ours_rss ours_cpu <<<"$2"
  read -r theirs_t theirs_rss theirs_cpu <<<"$3"
  printf '%-34s %10.3f %10.3f %8.2f %10.1f %10.1f %10.3f %10.3f %8.2f\n' "$label" \
    "$(sec "$ours_t")" "$(sec "$theirs_t")" "$(ratio "$ours_t" "$theirs_t")" \
    "$(echo "$ours_rss / 1024" | bc -l)" "$(echo "$theirs_rss / 1024" | bc -l)" \
    "$(sec "$ours_cpu")" "$(sec "$theirs_cpu")" "$(ratio "$ours_cpu" "$theirs_cpu")"
}

# The same page as native Group 4 (our input) and as a one-strip Group 4 TIFF (libtiff's input).
"$build/drawgen" "${page[@]}" -f g4 "$work/page.g4"
"$build/drawgen" "${page[@]}" "$work/page.pbm"
height=$(head -c 64 "$work/page.pbm" | sed -n 2p | cut -d' ' -f2)
pnmtotiff -g4 -miniswhite "$work/page.pbm" >"$work/strips.tif" 2>/dev/null
tiffcp -c g4 -r "$height" "$work/strips.tif" "$work/page.tif"
rm -f "$work/page.pbm" "$work/strips.tif"
[ "$(tiffinfo "$work/page.tif" 2>/dev/null | grep -c 'Rows/Strip: '"$height")" -eq 1 ] ||
  { echo "compare: page.tif is not one strip" >&2; exit 1; }

echo
printf '%-34s %10s %10s %8s %10s %10s %10s %10s %8s\n' case vantrel-s tiffcp-s ratio vantrel-MiB tiffcp-MiB \
  vantrel-cpu tiffcp-cpu cpu-ratio
# Assignments, so that a failed run stops the script.
ours=$(measure_command 1 "$work/out.cal" "$build/vantrel" "$work/page.g4" "$work/out.cal")
theirs=$(measure_command 0 "$work/copy.tif" tiffcp -c g4 -r "$height" "$work/page.tif" "$work/copy.tif")
print_pair "native G4 to CALS vs tiffcp -c g4" "$ours" "$theirs"

# ---- TIFF input: the same one-strip Group 4 TIFF read by both
ours=$(measure_command 1 "$work/out.cal" "$build/vantrel" "$work/page.tif" "$work/out.cal")
print_pair "one-strip G4 TIFF to CALS vs tiffcp" "$ours" "$theirs"

# The same page in 64-row strips to CALS against tiffcp writing the same strips; CALS to a one-strip TIFF
# against tiffcp copying the one-strip TIFF (every Group 4 to Group 4 case carries the code over).
tiffcp -c g4 -r 64 "$work/page.tif" "$work/strips64.tif"
tiff_to_cals=$ours
ours=$(measure_command 1 "$work/out.cal" "$build/vantrel" "$work/strips64.tif" "$work/out.cal")
strips=$(measure_command 0 "$work/copy.tif" tiffcp -c g4 -r 64 "$work/strips64.tif" "$work/copy.tif")
print_pair "64-row-strip G4 TIFF to CALS vs tiffcp" "$ours" "$strips"
"$build/vantrel" "$work/page.tif" "$work/page.cal" >/dev/null || true
ours=$(measure_command 1 "$work/out.tif" "$build/vantrel" "$work/page.cal" "$work/out.tif")
print_pair "CALS to one-strip G4 TIFF vs tiffcp" "$ours" "$theirs"
ours=$tiff_to_cals
rm -f "$work/strips64.tif" "$work/page.cal"

# PostScript of the same TIFF against its CALS (the same Group 4 coding, then ASCII85), and its size.
cals=$ours
ours=$(measure_command 1 "$work/out.ps" "$build/vantrel" "$work/page.tif" "$work/out.ps")
print_pair "G4 TIFF to PostScript vs to CALS" "$ours" "$cals"
"$build/vantrel" "$work/page.tif" "$work/out.ps" >/dev/null || true
printf '(PostScript %d bytes, %.3f times the one-strip Group 4 TIFF)\n' "$(stat -c %s "$work/out.ps")" \
  "$(ratio "$(stat -c %s "$work/out.ps")" "$(stat -c %s "$work/page.tif")")"
rm -f "$work/out.ps"

# A quarter turn of the whole page, one-strip Group 4 TIFF to one-strip Group 4 TIFF.
ours=$(measure_command 1 "$work/turned.tif" "$build/vantrel" "$work/page.tif" "$work/turned.tif" -rot 90)
theirs=$(measure_command 0 "$work/cropped.tif" tiffcrop -R 90 "$work/page.tif" "$work/cropped.tif")
print_pair "-rot 90 vs tiffcrop -R 90" "$ours" "$theirs"

# Decoding alone: the one-strip Group 4 TIFF into native run-length thrown away, against libtiff's decoder.
if [ -x "$build/libtiff_decode" ]; then
  ours=$(measure_command 1 "$work/none" "$build/vantrel" "$work/page.tif" /dev/null -rof rnl)
  theirs=$(measure_command 0 "$work/none" "$build/libtiff_decode" "$work/page.tif")
  print_pair "G4 TIFF decode vs libtiff_decode" "$ours" "$theirs"
else
  echo "(G4 TIFF decode against libtiff: $build/libtiff_decode is not built; it needs libtiff-dev)"
fi
# ---- decoders of other programs' TIFF: Group 3 two-dimensional, LZW and Deflate strips into uncompressed
# TIFF, against tiffcp -c none on the same file, in CPU time (user + system, milliseconds; the page decodes
# in tens of milliseconds, where wall time is mostly the disk). Both write the same 31 MB; each output is
# removed between runs, outside the timing.
echo
printf '%-40s %10s %10s %8s\n' case vantrel-cpu tiffcp-cpu ratio
for c in g3:2d lzw zip; do
  tiffcp -c "$c" -r "$height" "$work/page.tif" "$work/coded.tif"
  ours=$(measure_command 1 "$work/out.tiffu" "$build/vantrel" "$work/coded.tif" "$work/out.tiffu")
  theirs=$(measure_command 0 "$work/plain.tif" tiffcp -c none "$work/coded.tif" "$work/plain.tif")
  read -r _ _ ours <<<"$ours"
  read -r _ _ theirs <<<"$theirs"
  printf '%-40s %10.3f %10.3f %8.2f\n' "$c TIFF to tiffu vs tiffcp -c none" "$(sec "$ours")" "$(sec "$theirs")" \
    "$(ratio "$ours" "$theirs")"
done

# ---- tiled repository formats against CALS, both ways, from and to the one-strip Group 4 TIFF
echo
printf '%-34s %10s %10s %8s %10s %10s %10s %10s %8s\n' case vantrel-s cals-s ratio vantrel-MiB cals-MiB \
  vantrel-cpu cals-cpu cpu-ratio
cals=$(measure_command 1 "$work/out.cal" "$build/vantrel" "$work/page.tif" "$work/out.cal")
"$build/vantrel" "$work/page.tif" "$work/page.cal" >/dev/null || true
back=$(measure_command 1 "$work/back.tif" "$build/vantrel" "$work/page.cal" "$work/back.tif")
for f in img c4 b4; do
  ours=$(measure_command 1 "$work/out.$f" "$build/vantrel" "$work/page.tif" "$work/out.$f")
  print_pair "G4 TIFF to $f vs to CALS" "$ours" "$cals"
  "$build/vantrel" "$work/page.tif" "$work/page.$f" >/dev/null || true
  ours=$(measure_command 1 "$work/back.tif" "$build/vantrel" "$work/page.$f" "$work/back.tif")
  print_pair "$f to G4 TIFF vs CALS to TIFF" "$ours" "$back"
done
echo
fi

# ---- archival PDF. One line: label, ours, then each comparison as "name" "measurement" pairs.
print_pdf() {
  local label=$1 ours_t ours_rss ours_cpu line
  read -r ours_t ours_rss ours_cpu <<<"$2"
  shift 2
  line=$(printf '%-30s %8.3f %8.3f %8.1f' "$label" "$(sec "$ours_t")" "$(sec "$ours_cpu")" \
    "$(echo "$ours_rss / 1024" | bc -l)")
  while [ $# -ge 2 ]; do
    local t rss cpu
    read -r t rss cpu <<<"$2"
    line+=$(printf '   %s %.3f s cpu %.3f s (x%.2f) %.1f MiB' "$1" "$(sec "$t")" "$(sec "$cpu")" \
      "$(ratio "$ours_cpu" "$cpu")" "$(echo "$rss / 1024" | bc -l)")
    shift 2
  done
  echo "$line"
}
pdf_table() {
  local tif=$1 rows=$2 label=$3 ours cals t2p i2p
  tiffcp -c g4 -r "$rows" "$tif" "$work/one.tif"
  tiffcp -c g4 -r 64 "$tif" "$work/strips64.tif"
  ours=$(measure_command 1 "$work/out.pdf" "$build/vantrel" "$work/one.tif" "$work/out.pdf")
  cals=$(measure_command 1 "$work/out.cal" "$build/vantrel" "$work/one.tif" "$work/out.cal")
  t2p=$(measure_command 0 "$work/t2p.pdf" tiff2pdf -o "$work/t2p.pdf" "$work/one.tif")
  print_pdf "$label one strip" "$ours" cals "$cals" tiff2pdf "$t2p"
  ours=$(measure_command 1 "$work/out.pdf" "$build/vantrel" "$work/strips64.tif" "$work/out.pdf")
  t2p=$(measure_command 0 "$work/t2p.pdf" tiff2pdf -o "$work/t2p.pdf" "$work/strips64.tif")
  if command -v img2pdf >/dev/null; then
    i2p=$(measure_command 0 "$work/i2p.pdf" img2pdf --pillow-limit-break -o "$work/i2p.pdf" "$work/strips64.tif")
    print_pdf "$label 64-row strips" "$ours" tiff2pdf "$t2p" img2pdf "$i2p"
  else
    print_pdf "$label 64-row strips" "$ours" tiff2pdf "$t2p"
  fi
  rm -f "$work/one.tif" "$work/strips64.tif"
}
echo
echo "PDF: vantrel seconds, cpu seconds, peak MiB; each comparison with its cpu ratio vantrel / it"
"$build/drawgen" "${page[@]}" -f tif "$work/pdf_page.tif"
pdf_table "$work/pdf_page.tif" 18724 "A0 400 dpi"
if [ "$look" = clean ]; then
  "$build/drawgen" -w 26488 -h 37448 -f tif "$work/pdf_page.tif"
  pdf_table "$work/pdf_page.tif" 37448 "4 x A0 400 dpi"
fi
rm -f "$work/pdf_page.tif"
echo
done
