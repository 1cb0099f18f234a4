#!/usr/bin/env bash
# One task's share of a file list (the manifest), for a cluster's job array: the list is cut into SHARES
# consecutive pieces and task INDEX (0 to SHARES-1) translates piece INDEX, each file SRC/name into
# DST/name with its extension replaced by FORMAT.
#
# usage: convert-share.sh LIST SRC DST FORMAT INDEX SHARES
#   Slurm:      convert-share.sh scans.list /archive/scans /archive/cals cg4 "$SLURM_ARRAY_TASK_ID" 1000
#   Kubernetes: convert-share.sh ... "$JOB_COMPLETION_INDEX" 1000     (1000 = the job's completions)
#   one machine: seq 0 7 | parallel -j2 convert-share.sh scans.list scans cals cg4 {} 8
# SHARES is the array's full size, also when only some of its tasks run again.
#
# LIST holds one path under SRC per line (convert-tree.sh --list makes it). vantrel writes each output
# under a temporary name and puts it in place only when the translation is complete (exit status 1); then
# its page is read back for its digest and the file's line is appended to the journal
# DST/.vantrel-journal/INDEX-of-SHARES.tsv, tab-separated:
#   path  status  cause  output-bytes  cpu-seconds  input-digest  output-digest
# status: done, failed, or skipped (done before); cause: the last line vantrel printed about the failure;
# cpu-seconds: the translation's user + system time; the digests: vantrel -digest of the page handed to
# the writer and of the output read back ("-" where there is none, as for an output-only format). A tab
# or a backslash in a path is written as \t or \\. A file is done only when its output is in place and
# its line is written, so a task that runs again (a retry, a preempted task) skips exactly those and
# redoes the one it was cut off in. DST/.vantrel-journal/job names the list, SRC and FORMAT for
# convert-report.sh; a DST that holds another job's journal is refused.
# Exit status 0 when every file of the share was translated, 1 when any failed (their messages go to
# standard error), 2 for a bad call.
# Environment: VANTREL, the program to run (default: vantrel on the PATH, else the checkout's build/vantrel).
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
# The program: $VANTREL, else vantrel on the PATH, else the build beside this checkout's scripts.
vantrel="${VANTREL:-}"
if [ -z "$vantrel" ]; then
  checkout="$(cd "$(dirname "$0")/.." && pwd)"
  if command -v vantrel >/dev/null; then
    vantrel=vantrel
  elif [ -x "$checkout/build/vantrel" ]; then
    vantrel="$checkout/build/vantrel"
  else
    echo "convert-share: vantrel is neither on the PATH nor built in $checkout/build: point VANTREL at it" \
      "(VANTREL=/path/to/vantrel $(basename "$0") ...)" >&2
    exit 2
  fi
fi

# The job's description: the same list, source and format for every share that writes into DST.
journals="$dst/.vantrel-journal"
mkdir -p "$journals" || exit 2
job="$(printf 'list\t%s\nsrc\t%s\nformat\t%s\n' "$(cd "$(dirname "$list")" && pwd)/$(basename "$list")" \
  "$(cd "$src" 2>/dev/null && pwd || echo "$src")" "$format")"
if [ ! -e "$journals/job" ]; then
  printf '%s\n' "$job" >"$journals/job.$$" && mv -n "$journals/job.$$" "$journals/job"
  rm -f "$journals/job.$$"
fi
[ "$(cat "$journals/job")" = "$job" ] ||
  { echo "convert-share: $dst holds the journal of another job ($journals/job)" >&2; exit 2; }
journal="$journals/$index-of-$shares.tsv"
scratch="$(mktemp -d)" || exit 2
trap 'rm -rf "$scratch"' EXIT

# The lines this share wrote before: a done or skipped file whose output is still there is skipped.
declare -A before=()
if [ -f "$journal" ]; then
  while IFS=$'\t' read -r path status rest; do
    case "$status" in done | skipped) before["$path"]="$rest" ;; esac
  done <"$journal"
fi

# Helpers answer in REPLY (no subshell per file).
# File sizes from one perl process rather than a stat process per file.
coproc SIZES { exec perl -e '$| = 1; while (<STDIN>) { chomp; my $s = -s $_; print defined $s ? "$s\n" : "-\n" }'; }
size_of() {  # the size of the file $1 in bytes, "-" when there is none
  printf '%s\n' "$1" >&"${SIZES[1]}"
  IFS= read -r REPLY <&"${SIZES[0]}"
}
escape() {  # a path as the journal writes it
  REPLY="${1//\\/\\\\}"
  REPLY="${REPLY//$'\t'/\\t}"
}
seconds_to_ms() {  # "12.345" -> 12345
  local whole="${1%.*}" part="${1#*.}000"
  REPLY=$((10#$whole * 1000 + 10#${part:0:3}))
}
digest_of() {  # the digest vantrel printed into the file $1, "-" when none
  local line
  REPLY=-
  while IFS= read -r line; do
    case "$line" in "vantrel: page sha256 "*) REPLY="${line#vantrel: page sha256 }" ;; esac
  done <"$1"
}
cause_of() {  # the last line of the file $1 that says why vantrel failed, tabs made spaces; the detail
  local line   # lines naming the input $2 or the output $3 are left out, so the cause is the status line
  REPLY=""
  while IFS= read -r line; do
    case "$line" in
      "" | "Generating file: "* | "vantrel: Incomplete translation." | "vantrel: page sha256 "*) ;;
      "vantrel: $2: "* | "vantrel: $3: "*) ;;
      *) REPLY="${line//$'\t'/ }" ;;
    esac
  done <"$1"
}

lines=$(wc -l <"$list")
per=$(((lines + shares - 1) / shares))
first=$((index * per + 1))
last=$((first + per - 1))

TIMEFORMAT='%3U %3S'
failed=0
while IFS= read -r name; do
  [ -n "$name" ] || continue
  stem="$name"
  case "${name##*/}" in ?*.*) stem="${name%.*}" ;; esac  # the extension of the file name, not of a folder
  out="$dst/$stem.$format"
  escape "$name"
  key="$REPLY"
  if [ -e "$out" ]; then
    # Done before: by this share, or by a share of another cut of the list.
    rest="${before[$key]-}"
    [ -n "$rest" ] || rest="$(KEY="$key" awk -F'\t' '$1 == ENVIRON["KEY"] && $2 == "done" {
        sub(/^[^\t]*\tdone\t/, ""); print; exit }' "$journals"/*.tsv 2>/dev/null)"
    if [ -n "$rest" ]; then
      IFS=$'\t' read -r _ _ _ in_digest out_digest <<<"$rest"
      size_of "$out"
      printf '%s\tskipped\t-\t%s\t0.000\t%s\t%s\n' "$key" "$REPLY" "$in_digest" "$out_digest" >>"$journal"
      continue
    fi
  fi
  folder="${out%/*}"
  [ -d "$folder" ] || mkdir -p "$folder"
  [ ! -e "$out.part" ] || rm -f "$out.part"  # left by an earlier version of this script
  { time "$vantrel" "$src/$name" "$out" -rof "$format" -digest >"$scratch/messages" 2>&1; } 2>"$scratch/time"
  code=$?
  read -r user system <"$scratch/time"
  seconds_to_ms "$user"
  ms=$REPLY
  seconds_to_ms "$system"
  ms=$((ms + REPLY))
  printf -v cpu '%d.%03d' $((ms / 1000)) $((ms % 1000))
  digest_of "$scratch/messages"
  in_digest="$REPLY"
  if [ "$code" -eq 1 ]; then
    "$vantrel" "$out" /dev/null -rof rnl -digest >"$scratch/check" 2>&1
    digest_of "$scratch/check"
    out_digest="$REPLY"
    size_of "$out"
    printf '%s\tdone\t-\t%s\t%s\t%s\t%s\n' "$key" "$REPLY" "$cpu" "$in_digest" "$out_digest" >>"$journal"
  else
    [ ! -e "$out" ] || rm -f "$out"  # an output of an earlier run that was cut off before its line
    cause_of "$scratch/messages" "$src/$name" "$out"
    cause="$REPLY"
    [ "$code" -gt 128 ] && cause="killed by signal $((code - 128))"
    [ -n "$cause" ] || cause="exit status $code"
    printf '%s\tfailed\t%s\t-\t%s\t-\t-\n' "$key" "$cause" "$cpu" >>"$journal"
    printf '%s: %s\n' "$name" "$(cat "$scratch/messages")" >&2
    failed=$((failed + 1))
  fi
done < <(sed -n "${first},${last}p" "$list")
[ "$failed" -eq 0 ] || { echo "convert-share: $failed of the share's files failed" >&2; exit 1; }
