#!/usr/bin/env bash
# Throughput of the one-manifest recipe (convert-share.sh with its journal and page digests) on this machine:
# N4 A4 and N0 A0 drawgen pages at 400 dpi, Group 4 TIFF into CALS, run by GNU parallel with 1 and 2 jobs
# (8 shares) and by a Slurm array of 2 tasks on the private one-node cluster of tests/scale/slurm_cluster.sh
# (skipped without Slurm). Files/s and MB/s (input bytes) over the wall time of the whole run, and the
# translations' CPU seconds from the journal. Then the cost of the journal and digests on one A0 page: the
# median CPU time (user + system) of R runs each of a plain translation, the translation with -digest, the
# digest read back from the output, and convert-share.sh over a one-file list (all of it).
# usage: bench/scale_out.sh [build dir] [N4=2000] [N0=200] [R=9]
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir="$PWD"
build="$(cd "${1:-build}" && pwd)"
n4="${2:-2000}" n0="${3:-200}" runs="${4:-9}"
export VANTREL="$build/vantrel"
scratch="$(mktemp -d)"
chmod 711 "$scratch"
. "$source_dir/tests/scale/slurm_cluster.sh"
trap 'slurm_cluster_stop; rm -rf "$scratch"' EXIT
share="$source_dir/scripts/convert-share.sh"

make_pages() {  # make_pages FOLDER PAPER COUNT
  mkdir -p "$1"
  export DRAWGEN="$build/drawgen" PAGES="$1" PAPER="$2"
  seq 1 "$3" | xargs -P 2 -n 25 bash -c 'for i; do "$DRAWGEN" -p "$PAPER" -seed "$i" -f tiffg4 "$PAGES/p$i.tif"; done' pages
}

rate() {  # rate LABEL FILES BYTES SECONDS DST
  local cpu
  cpu="$(bash "$source_dir/scripts/convert-report.sh" --quick "$5" | sed -n 's/^cpu seconds: //p')"
  awk -v l="$1" -v f="$2" -v b="$3" -v s="$4" -v c="$cpu" \
    'BEGIN { printf "| %s | %.1f s | %.1f files/s | %.1f MB/s | %.1f s |\n", l, s, f / s, b / s / 1e6, c }'
}

throughput() {  # throughput NAME FOLDER
  local name="$1" pages="$2" files bytes start jobs job
  bash "$source_dir/scripts/convert-tree.sh" --list "$pages" >"$scratch/$name.list"
  files=$(wc -l <"$scratch/$name.list")
  bytes=$(du -sb "$pages" | cut -f1)
  echo "| $name: $files files, $((bytes / 1000000)) MB | wall | files/s | MB/s | translation CPU |"
  echo "|---|---|---|---|---|"
  for jobs in 1 2; do
    rm -rf "$scratch/out"
    start=$EPOCHREALTIME
    seq 0 7 | parallel -j"$jobs" bash "$share" "$scratch/$name.list" "$pages" "$scratch/out" cg4 {} 8
    rate "GNU parallel -j$jobs, 8 shares" "$files" "$bytes" "$(echo "$EPOCHREALTIME - $start" | bc)" "$scratch/out"
  done
  if [ -n "${SLURM_CONF:-}" ]; then
    rm -rf "$scratch/out"
    mkdir -p "$scratch/logs"
    start=$EPOCHREALTIME
    job="$(cd "$scratch" && sbatch --parsable --array=0-1 --output=logs/%A_%a.log \
      --wrap "exec bash $share $scratch/$name.list $pages $scratch/out cg4 \$SLURM_ARRAY_TASK_ID 2")"
    slurm_wait_jobs "$job" 3600
    rate "Slurm array, 2 tasks" "$files" "$bytes" "$(echo "$EPOCHREALTIME - $start" | bc)" "$scratch/out"
  fi
  echo
}

make_pages "$scratch/a4" a4 "$n4"
make_pages "$scratch/a0" a0 "$n0"
if [ -z "$(slurm_cluster_missing)" ]; then
  slurm_cluster_start "$scratch/cluster"
else
  echo "(no Slurm: the array rows are left out)"
fi
throughput A4 "$scratch/a4"
throughput A0 "$scratch/a0"

# The journal's and digests' cost on one A0 page: median CPU seconds of R runs of each command.
median_cpu() {  # median_cpu COMMAND...
  local i user system
  TIMEFORMAT='%3U %3S'
  for ((i = 0; i < runs; ++i)); do
    { time "$@" >/dev/null 2>&1; } 2>"$scratch/time"
    read -r user system <"$scratch/time"
    echo "$user + $system" | bc
  done | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}
page="$scratch/a0/p1.tif"
echo "p1.tif" >"$scratch/one.list"
plain="$(median_cpu "$VANTREL" "$page" "$scratch/plain.cg4")"
digest="$(median_cpu "$VANTREL" "$page" "$scratch/digest.cg4" -digest)"
back="$(median_cpu "$VANTREL" "$scratch/digest.cg4" /dev/null -rof rnl -digest)"
whole="$(median_cpu bash -c "rm -rf '$scratch/one'; exec bash '$share' '$scratch/one.list' '$scratch/a0' '$scratch/one' cg4 0 1")"
echo "| one A0 page, Group 4 TIFF into CALS | CPU s (median of $runs) | of the plain run |"
echo "|---|---|---|"
for row in "plain translation:$plain" "translation with -digest:$digest" "output digest read back:$back" \
    "convert-share.sh, one file (all of it):$whole"; do
  awk -v l="${row%%:*}" -v c="${row#*:}" -v p="$plain" 'BEGIN { printf "| %s | %.3f | %.2f |\n", l, c, c / p }'
done
