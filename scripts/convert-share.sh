#!/usr/bin/env bash
# One task's share of a file list, for a cluster's job array: the list is cut into SHARES consecutive
# pieces and task INDEX (0 to SHARES-1) translates piece INDEX, each file SRC/name into DST/name with its
# extension replaced by FORMAT.
#
# usage: convert-share.sh LIST SRC DST FORMAT INDEX SHARES
#   Slurm:      convert-share.sh scans.list /archive/scans /archive/cals cg4 "$SLURM_ARRAY_TASK_ID" 1000
#   Kubernetes: convert-share.sh ... "$JOB_COMPLETION_INDEX" 1000     (1000 = the job's completions)
# SHARES is the array's full size, also when only some of its tasks run again.
#
# LIST holds one path under SRC per line. An output is written under a temporary name and renamed when
# vantrel reports the translation complete (exit status 1), so a file whose output exists is done, and a
# task that runs again (a retry, a preempted task) goes on where it stopped. Exit status 0 when every file
# of the share was translated, 1 when any failed (their messages go to standard error), 2 for a bad call.
# Environment: VANTREL, the program to run (default: vantrel on the PATH).
set -uo pipefail

if [ $# -ne 6 ]; then
  echo "usage: $(basename "$0") LIST SRC DST FORMAT INDEX SHARES" >&2
  exit 2
fi
list="$1" src="${2%/}" dst="${3%/}" format="$4" index="$5" shares="$6"
case "$format" in "" | *[!a-z0-9]*) echo "convert-share: not a format name: $format" >&2; exit 2 ;; esac
case "$index$shares" in *[!0-9]*) echo "convert-share: INDEX and SHARES are numbers" >&2; exit 2 ;; esac
[ "$shares" -gt 0 ] && [ "$index" -lt "$shares" ] || { echo "convert-share: INDEX must be below SHARES" >&2; exit 2; }
[ -r "$list" ] || { echo "convert-share: cannot read $list" >&2; exit 2; }
vantrel="${VANTREL:-vantrel}"

lines=$(wc -l <"$list")
per=$(((lines + shares - 1) / shares))
first=$((index * per + 1))
last=$((first + per - 1))

failed=0
while IFS= read -r name; do
  [ -n "$name" ] || continue
  stem="$name"
  case "${name##*/}" in ?*.*) stem="${name%.*}" ;; esac  # the extension of the file name, not of a folder
  out="$dst/$stem.$format"
  [ -e "$out" ] && continue
  mkdir -p "$(dirname "$out")"
  messages=$("$vantrel" "$src/$name" "$out.part" -rof "$format" 2>&1)
  if [ $? -eq 1 ]; then
    mv -f "$out.part" "$out"
  else
    rm -f "$out.part"
    printf '%s: %s\n' "$name" "$messages" >&2
    failed=$((failed + 1))
  fi
done < <(sed -n "${first},${last}p" "$list")
[ "$failed" -eq 0 ] || { echo "convert-share: $failed of the share's files failed" >&2; exit 1; }
