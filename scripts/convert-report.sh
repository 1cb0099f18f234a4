#!/usr/bin/env bash
# The account of a job that convert-share.sh ran into DST: what was translated, what failed and why, what
# is missing, and whether the pixels survived.
#
# usage: convert-report.sh [--quick] DST
#
# Reads the manifest and format that DST/.vantrel-journal/job names and every journal beside it,
# then prints the totals and lists, one file a line:
#   failed:          files whose every attempt failed, with the cause the journal took from vantrel
#   no line:         files of the manifest that no journal names (not run yet, or cut off)
#   digests differ:  files whose output's page digest is not the input's
#   output missing:  done files whose output is gone
#   output changed:  done files whose output no longer has the size, or (without --quick) the page
#                    digest, it had when it was written
#   done twice:      files translated more than once (an output that was lost and made again)
# Without --quick every output is read again for its digest (vantrel -digest), a pass as long as reading
# the outputs; --quick checks that each output exists with its size.
# Exit status 0 when every file of the manifest is done with matching digests and its output intact,
# 1 otherwise, 2 for a bad call. Environment: VANTREL, the program to run (default: vantrel on the PATH).
set -uo pipefail

quick=0
if [ "${1:-}" = "--quick" ]; then
  quick=1
  shift
fi
[ $# -eq 1 ] || { echo "usage: $(basename "$0") [--quick] DST" >&2; exit 2; }
dst="${1%/}"
[ -n "$dst" ] || dst=/
journals="$dst/.vantrel-journal"
[ -r "$journals/job" ] || { echo "convert-report: no journal in $dst ($journals/job)" >&2; exit 2; }
list="" format=""
while IFS=$'\t' read -r field value; do
  case "$field" in list) list="$value" ;; format) format="$value" ;; esac
done <"$journals/job"
[ -r "$list" ] || { echo "convert-report: cannot read the manifest $list" >&2; exit 2; }
vantrel="${VANTREL:-vantrel}"
scratch="$(mktemp -d)" || exit 2
trap 'rm -rf "$scratch"' EXIT

shopt -s nullglob
tables=("$journals"/*.tsv)
shopt -u nullglob
# Every file under DST with its size, to check the outputs without a process per file.
(cd "$dst" && find . -path ./.vantrel-journal -prune -o -type f -printf '%s\t%P\n') >"$scratch/outputs"

# The manifest, then the outputs, then the journals. The paths of the manifest are escaped as the journal
# writes them (\\ and \t); output paths are the name with its extension replaced by the format.
SIZES="$scratch/outputs" LIST="$list" FORMAT="$format" QUICK="$quick" \
  awk -F'\t' -v check="$scratch/check" '
  function escape(s) { gsub(/\\/, "\\\\", s); gsub(/\t/, "\\t", s); return s }
  function output(name,   base, dot) {
    base = name; sub(/.*\//, "", base)
    dot = match(base, /\.[^.]*$/)
    if (dot > 1) name = substr(name, 1, length(name) - (length(base) - dot + 1))
    return name "." ENVIRON["FORMAT"]
  }
  FILENAME == ENVIRON["LIST"] {
    if ($0 == "") next
    key = escape($0)
    if (!(key in listed)) { order[++files] = key; listed[key] = 1; target[key] = output($0) }
    next
  }
  FILENAME == ENVIRON["SIZES"] {
    tab = index($0, "\t")
    size[substr($0, tab + 1)] = substr($0, 1, tab - 1)
    next
  }
  NF >= 7 {
    k = $1
    cpu += $5
    if ($2 == "done") {
      done[k]++
      bytes[k] = $4; din[k] = $6; dout[k] = $7
    } else if ($2 == "skipped") {
      skipped[k] = 1
      if (!(k in bytes)) { bytes[k] = $4; din[k] = $6; dout[k] = $7 }
    } else if ($2 == "failed") {
      cause[k] = $3
    }
    if (!(k in listed)) stray[k] = 1
  }
  END {
    for (i = 1; i <= files; ++i) {
      k = order[i]
      if (k in done || k in skipped) {
        ok++
        if (done[k] > 1) twice[++ntwice] = k
        if (din[k] != dout[k]) {
          if (dout[k] == "-") unverified++
          else differ[++ndiffer] = k
        }
        if (!(target[k] in size)) missing[++nmissing] = k
        else if (size[target[k]] != bytes[k]) changed[++nchanged] = k
        else if (!ENVIRON["QUICK"] && dout[k] != "-") printf "%s\t%s\t%s\n", dout[k], k, target[k] > check
      } else if (k in cause) {
        failed[++nfailed] = k
      } else {
        noline[++nnoline] = k
      }
    }
    for (k in stray) nstray++
    printf "manifest: %d files\ndone: %d\nfailed: %d\nno line: %d\ndigests differ: %d\n", \
      files, ok, nfailed, nnoline, ndiffer
    printf "output missing: %d\noutput size changed: %d\ndone twice: %d\n", nmissing, nchanged, ntwice
    printf "not read back (output format not readable): %d\njournal lines of files not in the manifest: %d\n", \
      unverified, nstray
    printf "cpu seconds: %.3f\n", cpu
    for (i = 1; i <= nfailed; ++i) printf "failed: %s: %s\n", failed[i], cause[failed[i]]
    for (i = 1; i <= nnoline; ++i) printf "no line: %s\n", noline[i]
    for (i = 1; i <= ndiffer; ++i) printf "digests differ: %s\n", differ[i]
    for (i = 1; i <= nmissing; ++i) printf "output missing: %s\n", missing[i]
    for (i = 1; i <= nchanged; ++i) printf "output changed: %s (size %s, written %s)\n", changed[i], size[target[changed[i]]], bytes[changed[i]]
    for (i = 1; i <= ntwice; ++i) printf "done twice: %s\n", twice[i]
    bad = nfailed + nnoline + ndiffer + nmissing + nchanged
    exit (bad > 0 ? 1 : 0)
  }' "$list" "$scratch/outputs" ${tables[@]+"${tables[@]}"} >"$scratch/report"
status=$?
[ "$status" -le 1 ] || { echo "convert-report: cannot read the journal" >&2; exit 2; }
cat "$scratch/report"

# The outputs read again: a page whose digest is no longer the one written has changed.
if [ "$quick" -eq 0 ] && [ -s "$scratch/check" ]; then
  changed=0
  while IFS=$'\t' read -r expected key path; do  # the path last: it may hold a tab
    "$vantrel" "$dst/$path" /dev/null -rof rnl -digest >"$scratch/messages" 2>&1
    got=-
    while IFS= read -r line; do
      case "$line" in "vantrel: page sha256 "*) got="${line#vantrel: page sha256 }" ;; esac
    done <"$scratch/messages"
    if [ "$got" != "$expected" ]; then
      echo "output changed: $key (page digest $got, written $expected)"
      changed=$((changed + 1))
    fi
  done <"$scratch/check"
  printf "outputs read again: %d\nchanged pages: %d\n" "$(wc -l <"$scratch/check")" "$changed"
  [ "$changed" -eq 0 ] || status=1
fi
exit "$status"
