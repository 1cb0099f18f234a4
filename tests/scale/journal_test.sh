#!/usr/bin/env bash
# The journal of convert-share.sh and the account convert-report.sh gives of it: a manifest from
# convert-tree.sh --list run in shares by GNU parallel, a share killed and run again, then faults made by
# hand (an output deleted, corrupted, cut short, a journal line lost, a digest that differs) each found by
# the report, and a file that fails named with vantrel's cause.
# usage: journal_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build="$(cd "$1" && pwd)"
source="$(cd "$2" && pwd)"
scratch="$(mktemp -d)"
trap '[ -n "${KEEP:-}" ] || rm -rf "$scratch"' EXIT
export VANTREL="$build/vantrel"
share="$source/scripts/convert-share.sh"
report="$source/scripts/convert-report.sh"
fail() { echo "journal: $*" >&2; exit 1; }

# 12 drawings, one in a folder whose name holds a tab; the manifest as convert-tree.sh --list makes it.
mkdir -p "$scratch/src/a" "$scratch/src/b"$'\t'"c"
for i in $(seq 1 12); do
  folder="$scratch/src/a"
  [ "$i" -ne 5 ] || folder="$scratch/src/b"$'\t'"c"
  if [ $((i % 2)) -eq 0 ]; then format=rnl; else format=tif; fi
  "$build/drawgen" -w 900 -h 600 -seed "$i" -f "$format" "$folder/sheet$i.$format"
done
bash "$source/scripts/convert-tree.sh" --list "$scratch/src" >"$scratch/list"
[ "$(wc -l <"$scratch/list")" -eq 12 ] || fail "the manifest does not hold 12 files"

# A share killed after its first file, then every share through GNU parallel (the README's recipe).
setsid bash "$share" "$scratch/list" "$scratch/src" "$scratch/dst" cg4 0 3 &
killed=$!
for _ in $(seq 1 300); do
  [ -s "$scratch/dst/.vantrel-journal/0-of-3.tsv" ] && break
  sleep 0.02
done
kill -KILL -- "-$killed" 2>/dev/null || true
wait "$killed" 2>/dev/null || true
seq 0 2 | parallel -j2 bash "$share" "$scratch/list" "$scratch/src" "$scratch/dst" cg4 {} 3 ||
  fail "the shares failed"
bash "$report" "$scratch/dst" >"$scratch/report.txt" || { cat "$scratch/report.txt" >&2; fail "a clean job reported faults"; }
for expected in "manifest: 12 files" "done: 12" "failed: 0" "done twice: 0" "changed pages: 0"; do
  grep -qx -- "$expected" "$scratch/report.txt" || { cat "$scratch/report.txt" >&2; fail "no '$expected'"; }
done
[ -z "$(find "$scratch/dst" -name '*.part')" ] || fail "a partial output was left"
awk -F'\t' 'NF != 7 || $2 !~ /^(done|skipped)$/ || ($2 == "done" && $6 != $7) { exit 1 }' \
  "$scratch/dst/.vantrel-journal"/*.tsv || fail "a journal line is malformed or its digests differ"
grep -q '^b\\tc/sheet5.tif'$'\t''done' "$scratch/dst/.vantrel-journal"/*.tsv || fail "the tab in a path is not escaped"

# Each fault on its own copy of the job, with the report's line that names it, with and without --quick
# (fields: label@fault@line@modes).
target="a/sheet4.cg4"
cases=(
  "deleted@rm \"\$dst/$target\"@output missing: a/sheet4.rnl@both"
  "corrupted@printf 'ZZZZZZZZ' | dd of=\"\$dst/$target\" bs=1 seek=4000 conv=notrunc status=none@output changed: a/sheet4.rnl (page digest@full"
  "cut short@truncate -s 3000 \"\$dst/$target\"@output changed: a/sheet4.rnl@both"
  "line lost@sed -i '/^a\\/sheet4.rnl\\t/d' \"\$dst\"/.vantrel-journal/*.tsv@no line: a/sheet4.rnl@both"
  "digest differs@sed -i 's/^\\(a\\/sheet4.rnl\\tdone\\t.*\\t\\)[0-9a-f]*\$/\\1ffff/' \"\$dst\"/.vantrel-journal/*.tsv@digests differ: a/sheet4.rnl@both"
)
for entry in "${cases[@]}"; do
  IFS='@' read -r label fault line modes <<<"$entry"
  case "$modes" in both | full) ;; *) fail "$label: a malformed case" ;; esac
  dst="$scratch/case"
  rm -rf "$dst"
  cp -a "$scratch/dst" "$dst"
  eval "$fault"
  for mode in full quick; do
    [ "$modes" = both ] || [ "$mode" = "$modes" ] || continue
    flags=()
    [ "$mode" = full ] || flags=(--quick)
    set +e
    bash "$report" "${flags[@]}" "$dst" >"$scratch/report.txt" 2>&1
    code=$?
    set -e
    [ "$code" -eq 1 ] || fail "$label ($mode): the report exited $code, not 1"
    grep -qF -- "$line" "$scratch/report.txt" || { cat "$scratch/report.txt" >&2; fail "$label ($mode): no '$line'"; }
  done
done

# A file that fails: its journal line and the report carry vantrel's own message; the others are done.
mkdir -p "$scratch/mixed"
cp "$scratch/src/a/sheet1.tif" "$scratch/mixed/good.tif"
echo "not a drawing" >"$scratch/mixed/bad.rnl"
printf 'bad.rnl\ngood.tif\nmissing.tif\n' >"$scratch/mixed.list"
set +e
bash "$share" "$scratch/mixed.list" "$scratch/mixed" "$scratch/mixed-out" pcl 0 1 2>/dev/null
share_code=$?
bash "$report" "$scratch/mixed-out" >"$scratch/report.txt"
report_code=$?
set -e
[ "$share_code" -eq 1 ] && [ "$report_code" -eq 1 ] || fail "a failed file: share $share_code, report $report_code"
for expected in "done: 1" "failed: 2" "failed: bad.rnl: vantrel: unknown raster format type" \
    "failed: missing.tif: vantrel: Cannot open input file." "not read back (output format not readable): 1"; do
  grep -qxF -- "$expected" "$scratch/report.txt" || { cat "$scratch/report.txt" >&2; fail "no '$expected'"; }
done
# Another job's journal is not mixed into this one.
set +e
bash "$share" "$scratch/list" "$scratch/src" "$scratch/mixed-out" pcl 0 1 2>/dev/null
code=$?
set -e
[ "$code" -eq 2 ] || fail "a second job in the same destination was accepted ($code)"

# The Kubernetes recipe, where a cluster answers kubectl.
if command -v kubectl >/dev/null && kubectl version --request-timeout=3s >/dev/null 2>&1; then
  kubectl apply --dry-run=client -f "$source/scripts/convert-job.yaml" || fail "kubectl refuses the job manifest"
fi
echo "journal: all checks passed"
