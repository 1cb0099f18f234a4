#!/usr/bin/env bash
# The job-array recipe on a real scheduler: a private one-node Slurm cluster on this machine (munged,
# slurmctld and slurmd started here and stopped by process id, also on failure) runs scripts/convert.sbatch
# as the README shows it, over 400 drawgen files in 4 tasks; one task is cancelled halfway and submitted
# again. Then convert-report.sh finds every file done once with matching page digests, and every output
# equals a plain vantrel run's, byte for byte.
# usage: slurm_test.sh BUILD_DIR SOURCE_DIR   (exit 77: skipped, a Slurm or MUNGE program is missing)
set -euo pipefail
build="$(cd "$1" && pwd)"
source="$(cd "$2" && pwd)"
# shellcheck source=tests/scale/slurm_cluster.sh
. "$source/tests/scale/slurm_cluster.sh"
missing="$(slurm_cluster_missing)"
if [ -n "$missing" ]; then
  echo "slurm: skipped: ${missing% } missing (scripts/setup.sh installs slurm-wlm and munge)"
  exit 77
fi
fail() { echo "slurm: $*" >&2; exit 1; }

scratch="$(mktemp -d)"
chmod 711 "$scratch"  # munged wants every folder above its socket searchable by all
finish() {
  local status=$?
  slurm_cluster_stop
  if [ "$status" -ne 0 ] && [ -d "$scratch/cluster/log" ]; then tail -n 20 "$scratch"/cluster/log/*.log >&2 || true; fi
  [ -n "${KEEP:-}" ] || rm -rf "$scratch"
  exit "$status"
}
trap finish EXIT
started=$EPOCHREALTIME
slurm_cluster_start "$scratch/cluster" || fail "the cluster did not start"
echo "slurm: one-node cluster up in $(echo "$EPOCHREALTIME - $started" | bc) s"

# 400 small drawings in four folders, one with a space in its name; native run-length and TIFF inputs.
# Two processes at a time here and below: the test's time is mostly process starts.
archive="$scratch/archive"
mkdir -p "$archive/scans/part "{0,1,2,3}
export DRAWGEN="$build/drawgen" SCANS="$archive/scans"
seq 1 400 | xargs -P 2 -n 50 bash -c 'for i; do
  if [ $((i % 2)) -eq 0 ]; then format=rnl; else format=tif; fi
  "$DRAWGEN" -w 1000 -h 700 -seed "$i" -f "$format" "$SCANS/part $((i % 4))/sheet$i.$format" || exit 255
done' drawings || fail "drawgen failed"
bash "$source/scripts/convert-tree.sh" --list "$archive/scans" >"$archive/scans.list"
[ "$(wc -l <"$archive/scans.list")" -eq 400 ] || fail "the manifest does not hold 400 files"

# The README's recipe, with this test's folders and 4 tasks in place of 1000.
recipe="$source/scripts/convert.sbatch"
/usr/bin/python3 - "$source/README.md" "$recipe" "$source/scripts/convert-job.yaml" <<'EOF' ||
import sys
readme = open(sys.argv[1]).read()
for path in sys.argv[2:]:
    if "\n" + open(path).read() + "```" not in readme:
        sys.exit("the README does not show " + path + " as it is")
EOF
  fail "the README's recipes are not the files in scripts/"
mkdir "$scratch/job" "$scratch/job/logs"
sed -e "s|/opt/vantrel/|$source/scripts/|" -e "s|/archive/|$archive/|g" -e 's|--array=0-999%50|--array=0-3%50|' \
  -e 's| 1000$| 4|' "$recipe" >"$scratch/job/convert.sbatch"
grep -q -- '--array=0-3%50' "$scratch/job/convert.sbatch" && grep -q ' 4$' "$scratch/job/convert.sbatch" ||
  fail "the recipe's array and share count were not found to adapt"
export VANTREL="$build/vantrel"
cd "$scratch/job"
job="$(sbatch --parsable convert.sbatch)"
echo "slurm: job $job submitted"

# Task 1 cancelled when it has journalled a quarter to half of its 100 files.
journal="$archive/cals/.vantrel-journal/1-of-4.tsv"
for _ in $(seq 1 600); do
  [ -f "$journal" ] && [ "$(wc -l <"$journal")" -ge 25 ] && break
  sleep 0.1
done
scancel "${job}_1"
slurm_wait_jobs "${job}_1" 10 || fail "task 1 was not cancelled"
cut="$(wc -l <"$journal")"
echo "slurm: task 1 cancelled after $cut of its 100 files"
[ "$cut" -lt 100 ] || fail "task 1 finished before it was cancelled"

# Task 1 again, as a failed task is rerun: the same recipe, its index alone.
again="$(sbatch --parsable --array=1 convert.sbatch)"
slurm_wait_jobs "$job,$again" 120 || fail "the jobs did not finish within 120 s"
echo "slurm: both jobs done $(echo "$EPOCHREALTIME - $started" | bc) s after the start"

# Every file done once, with the pixels of its input; nothing else in the destination.
skipped=$(awk -F'\t' '$2 == "skipped"' "$journal" | wc -l)
[ "$skipped" -ge 1 ] && [ "$skipped" -le "$cut" ] || fail "the rerun skipped $skipped files, cut at $cut"
bash "$source/scripts/convert-report.sh" --quick "$archive/cals" >"$scratch/report.txt" ||
  { cat "$scratch/report.txt" >&2; fail "the report found faults"; }
for expected in "done: 400" "no line: 0" "digests differ: 0" "done twice: 0" "output missing: 0" \
    "not read back (output format not readable): 0"; do
  grep -qx -- "$expected" "$scratch/report.txt" || { cat "$scratch/report.txt" >&2; fail "no '$expected'"; }
done
outputs=$(find "$archive/cals" -path "$archive/cals/.vantrel-journal" -prune -o -type f -print | wc -l)
[ "$outputs" -eq 400 ] || fail "$outputs files in the destination, not 400"
export ARCHIVE="$archive"
tr '\n' '\0' <"$archive/scans.list" | xargs -0 -P 2 -n 50 bash -c 'plain="$(mktemp)"; for name; do
  "$VANTREL" "$ARCHIVE/scans/$name" "$plain" -rof cg4 >/dev/null
  [ $? -eq 1 ] || { echo "slurm: plain vantrel failed on $name" >&2; exit 255; }
  cmp -s "$plain" "$ARCHIVE/cals/${name%.*}.cg4" || { echo "slurm: $name differs from the plain run" >&2; exit 255; }
done; rm -f "$plain"' compare || fail "the outputs are not the plain runs'"
echo "slurm: 400 files in 4 tasks, one cancelled at $cut files and run again: all checks passed"
