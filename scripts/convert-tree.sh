#!/usr/bin/env bash
# Translates every file under SRC into FORMAT with GNU parallel, one vantrel process per file, mirroring
# the folders into DST: SRC/a/b.tif becomes DST/a/b.FORMAT.
#
# usage: convert-tree.sh SRC DST FORMAT [parallel options...]
#        convert-tree.sh --list SRC > scans.list
#   e.g. convert-tree.sh scans/ cals/ cg4 -j4
#        convert-tree.sh /share/scans /share/cals cg4 --sshloginfile hosts.txt
#
# --list prints the manifest of SRC instead: every file's path under SRC, one a line, sorted byte by byte,
# the list convert-share.sh cuts into shares. A name holding a line feed cannot stand in a list of lines: it
# is left out and named on standard error.
#
# The job log (DST/.convert-tree.joblog, or $CONVERT_TREE_JOBLOG) records every finished file; running
# the same command again resumes where an interrupted run stopped: it retries the files that failed and
# those not yet done, and nothing that completed.
# A file counts as done when vantrel exits 1 (its "translation is complete"); a failed file's messages
# go to standard error and its job log line shows exit status 1. The exit status is parallel's: 0 when
# every file was translated, else the number of failed files (at most 101).
#
# Environment: VANTREL, the program to run (default: vantrel on the PATH, else the checkout's build/vantrel;
# on other hosts, vantrel on their PATH).
# With --sshlogin/--sshloginfile the jobs run on those hosts: SRC and DST must then be the same paths on
# every host (a shared file system) and vantrel must be installed there; the job log stays here.
set -euo pipefail

if [ "${1:-}" = "--list" ]; then
  [ $# -eq 2 ] && [ -d "$2" ] || { echo "usage: $(basename "$0") --list SRC" >&2; exit 2; }
  cd "$2"
  find . -type f -printf '%P\0' | LC_ALL=C sort -z |
    while IFS= read -r -d '' name; do
      case "$name" in
        *$'\n'*) printf 'convert-tree: left out of the list (a line feed in its name): %q\n' "$name" >&2 ;;
        *) printf '%s\n' "$name" ;;
      esac
    done
  exit 0
fi

if [ $# -lt 3 ]; then
  echo "usage: $(basename "$0") SRC DST FORMAT [parallel options...]" >&2
  exit 2
fi
src="${1%/}"
dst="${2%/}"
format="$3"
shift 3
[ -n "$src" ] || src=/
[ -n "$dst" ] || dst=/

[ -d "$src" ] || { echo "convert-tree: no such folder: $src" >&2; exit 2; }
case "$format" in
  "" | *[!a-z0-9]*) echo "convert-tree: not a format name: $format" >&2; exit 2 ;;
esac
command -v parallel >/dev/null || { echo "convert-tree: GNU parallel is missing (apt install parallel)" >&2; exit 2; }

mkdir -p "$dst"
# Absolute paths, so that a job on another host or in another folder finds the same files.
src="$(cd "$src" && pwd)"
dst="$(cd "$dst" && pwd)"
[ "$src" != "$dst" ] || { echo "convert-tree: DST must be another folder than SRC" >&2; exit 2; }
joblog="${CONVERT_TREE_JOBLOG:-$dst/.convert-tree.joblog}"
# The program: $VANTREL, else vantrel on the PATH, else the build beside this checkout's scripts. Jobs on
# other hosts find vantrel on their own PATH.
vantrel="${VANTREL:-}"
remote=no
for arg in "$@"; do case "$arg" in -S | --sshlogin* | --slf | --sshloginfile*) remote=yes ;; esac; done
if [ -z "$vantrel" ]; then
  checkout="$(cd "$(dirname "$0")/.." && pwd)"
  if [ $remote = yes ] || command -v vantrel >/dev/null; then
    vantrel=vantrel
  elif [ -x "$checkout/build/vantrel" ]; then
    vantrel="$checkout/build/vantrel"
  else
    echo "convert-tree: vantrel is neither on the PATH nor built in $checkout/build: point VANTREL at it" \
      "(VANTREL=/path/to/vantrel $(basename "$0") ...)" >&2
    exit 2
  fi
fi
case "$vantrel" in /*) ;; */*) vantrel="$PWD/$vantrel" ;; esac  # a relative path works from any folder

# One job per file. parallel quotes {} (the path under SRC), {.} (without its extension) and {//} (its
# folder); the rest is quoted here. vantrel's exit status 1 is the job's success.
printf -v q_src '%q' "$src"
printf -v q_dst '%q' "$dst"
printf -v q_vantrel '%q' "$vantrel"
job="{ [ -d $q_dst/{//} ] || mkdir -p $q_dst/{//}; } && out=\$($q_vantrel $q_src/{} $q_dst/{.}.$format -rof $format 2>&1); \
[ \$? -eq 1 ] || { printf '%s\\n' \"\$out\" >&2; exit 1; }"

# The list is sorted, so each file keeps its job number between runs: --resume-failed goes by those numbers.
# When DST or the job log lies inside SRC, neither is listed.
inside=()
case "$dst/" in "$src"/?*) inside+=(-path "./${dst#"$src"/}" -prune -o) ;; esac
case "$joblog" in "$src"/?*) inside+=(-path "./${joblog#"$src"/}" -prune -o) ;; esac
cd "$src"
find . "${inside[@]}" -type f -printf '%P\0' | LC_ALL=C sort -z |
  parallel --null --joblog "$joblog" --resume-failed "$@" "$job"
