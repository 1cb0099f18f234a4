#!/usr/bin/env bash
# The scale-out recipes: scripts/convert-tree.sh translates 200 drawgen files with two jobs, is interrupted
# halfway, resumes (through an ssh login file naming the local host), and leaves every output identical to
# a plain vantrel run's; scripts/convert-share.sh gives the same outputs share by share; a tree with a bad
# file fails and says why.
# usage: convert_tree_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build="$(cd "$1" && pwd)"
source="$(cd "$2" && pwd)"
scratch="$(mktemp -d)"
trap '[ -n "${KEEP:-}" ] || rm -rf "$scratch"' EXIT
export VANTREL="$build/vantrel"
convert=("bash" "$source/scripts/convert-tree.sh")
fail() { echo "convert-tree: $*" >&2; exit 1; }

# 200 small drawings in four folders, one with a space in its name; native run-length and TIFF inputs.
for i in $(seq 1 200); do
  folder="$scratch/src/part $((i % 4))"
  mkdir -p "$folder"
  if [ $((i % 2)) -eq 0 ]; then format=rnl; else format=tif; fi
  "$build/drawgen" -w 1200 -h 900 -seed "$i" -f "$format" "$folder/sheet$i.$format"
done

# Interrupted halfway, as by Ctrl-C: the run is its own process group, which gets SIGINT.
joblog="$scratch/dst/.convert-tree.joblog"
setsid "${convert[@]}" "$scratch/src" "$scratch/dst" cg4 -j2 >"$scratch/first.txt" 2>&1 &
run=$!
for _ in $(seq 1 3000); do
  [ -f "$joblog" ] && [ "$(($(wc -l <"$joblog") - 1))" -ge 100 ] && break
  kill -0 "$run" 2>/dev/null || break
  sleep 0.02
done
kill -INT -- "-$run" 2>/dev/null || true
wait "$run" || true
done_first=$(awk -F'\t' 'NR > 1 && $7 == 0 && $8 == 0' "$joblog" | wc -l)
echo "first run: $done_first of 200 files before the interrupt"
[ "$done_first" -gt 0 ] && [ "$done_first" -lt 200 ] || fail "the run was not interrupted halfway ($done_first done)"

# Resumed: only what was not done runs, here through an ssh login file naming the local host (":").
echo "2/:" >"$scratch/hosts"
lines_before=$(($(wc -l <"$joblog") - 1))
"${convert[@]}" "$scratch/src" "$scratch/dst" cg4 -j2 --sshloginfile "$scratch/hosts" ||
  fail "the resumed run failed ($?)"
ran_second=$(($(wc -l <"$joblog") - 1 - lines_before))
echo "resumed run: $ran_second files"
[ "$ran_second" -eq $((200 - done_first)) ] || fail "the resumed run ran $ran_second files, not $((200 - done_first))"
done_all=$(awk -F'\t' 'NR > 1 && $7 == 0 && $8 == 0 {print $1}' "$joblog" | sort -u | wc -l)
[ "$done_all" -eq 200 ] || fail "$done_all of 200 files done after the resume"

# Every output is the plain run's, and there is nothing else.
count=0
while IFS= read -r -d '' input; do
  relative="${input#"$scratch/src/"}"
  output="$scratch/dst/${relative%.*}.cg4"
  [ -f "$output" ] || fail "no output for $relative"
  set +e
  "$VANTREL" "$input" "$scratch/plain.cg4" >/dev/null
  code=$?
  set -e
  [ "$code" -eq 1 ] || fail "plain vantrel failed on $relative ($code)"
  cmp -s "$output" "$scratch/plain.cg4" || fail "$relative differs from the plain run's output"
  count=$((count + 1))
done < <(find "$scratch/src" -type f -print0)
[ "$count" -eq 200 ] || fail "compared $count files, not 200"
outputs=$(find "$scratch/dst" -type f ! -name .convert-tree.joblog | wc -l)
[ "$outputs" -eq 200 ] || fail "$outputs files in the destination, not 200"

# The cluster recipe: the sorted list in 7 shares (uneven: 29 files each, 26 in the last), one task per
# share as a job array runs them, one task run twice (the second finds its share done), then one task over
# the whole list after an output was lost and one cut short: every output again equals the plain run's.
(cd "$scratch/src" && find . -type f -printf '%P\n' | LC_ALL=C sort >"$scratch/list")
share=("bash" "$source/scripts/convert-share.sh" "$scratch/list" "$scratch/src" "$scratch/shares" cg4)
for index in 0 1 2 3 4 5 6 3; do
  "${share[@]}" "$index" 7 || fail "share $index failed"
done
rm "$scratch/shares/part 2/sheet2.cg4"
mv "$scratch/shares/part 2/sheet6.cg4" "$scratch/shares/part 2/sheet6.cg4.part"  # a translation cut short
truncate -s 100 "$scratch/shares/part 2/sheet6.cg4.part"
"${share[@]}" 0 1 || fail "the single share failed"
diff -r -x .convert-tree.joblog -x .vantrel-journal "$scratch/dst" "$scratch/shares" || fail "the shares' outputs differ from the tree's"
set +e
"${share[@]}" 7 7 2>/dev/null
code=$?
set -e
[ "$code" -eq 2 ] || fail "a share beyond the count was accepted ($code)"

# A bad input fails its job and the run, with vantrel's messages; the good file is still translated.
mkdir -p "$scratch/mixed"
cp "$scratch/src/part 1/sheet1.tif" "$scratch/mixed/good.tif"
echo "not a drawing" >"$scratch/mixed/bad.rnl"
set +e
"${convert[@]}" "$scratch/mixed" "$scratch/mixed-out" rtl 2>"$scratch/errors.txt"
code=$?
set -e
[ "$code" -eq 1 ] || fail "a run with one bad file exited $code, not 1"
grep -q "vantrel: unknown raster format type" "$scratch/errors.txt" || fail "no message for the bad file"
[ -s "$scratch/mixed-out/good.rtl" ] || fail "the good file was not translated"
[ ! -e "$scratch/mixed-out/bad.rtl" ] || fail "the bad file left an output"
printf 'bad.rnl\ngood.tif\n' >"$scratch/mixed.list"
set +e
bash "$source/scripts/convert-share.sh" "$scratch/mixed.list" "$scratch/mixed" "$scratch/mixed-share" rtl 0 1 \
  2>"$scratch/errors.txt"
code=$?
set -e
[ "$code" -eq 1 ] || fail "a share with one bad file exited $code, not 1"
grep -q "^bad.rnl: " "$scratch/errors.txt" && grep -q "vantrel: unknown raster format type" "$scratch/errors.txt" ||
  fail "no message for the bad file in the share"
cmp -s "$scratch/mixed-share/good.rtl" "$scratch/mixed-out/good.rtl" || fail "the share's good file differs"
[ -z "$(find "$scratch/mixed-share" -name 'bad.*')" ] || fail "the bad file left an output in the share"
echo "convert-tree: all checks passed"
