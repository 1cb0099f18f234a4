#!/usr/bin/env bash
# vantrelw from outside, as a user drives it: under Xvfb, keys and focus sent by xdotool. Adds 120 A0
# drawings (four drawn, copied) through the Add Files dialog, twenty at a time, translates them
# (resampled to 2000 dpi; the count makes the run last seconds, as one file takes a twentieth of one),
# presses Cancel in the progress window, waits for the summary and quits. Then: fewer than 120 outputs,
# each a complete page that vantrel reads, nothing else in the output folder, and the settings written back.
# Skipped (exit 77) when Xvfb or xdotool is missing.
# Usage: xdotool_test.sh VANTRELW DRAWGEN VANTREL
set -euo pipefail
vantrelw="$1"
drawgen="$2"
vantrel="$3"
for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "SKIP: the black-box run of vantrelw needs $tool"; exit 77; }
done

work="$(mktemp -d)"
display=":$((100 + RANDOM % 50))"
xvfb=""
app=""
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  [ -s "$work/vantrelw.log" ] && sed 's/^/vantrelw: /' "$work/vantrelw.log" >&2
  exit 1
}

mkdir -p "$work/in" "$work/out" "$work/config/ZEB"
files=120
for seed in 1 2 3 4; do "$drawgen" -p a0 -dpi 100 -f tif -seed "$seed" "$work/in/a0-$seed.tif"; done
for n in $(seq 5 "$files"); do cp "$work/in/a0-$((n % 4 + 1)).tif" "$work/in/a0-$n.tif"; done
cat >"$work/config/ZEB/vantrelw.conf" <<CONF
[Default]
OutputFormat=0
OutputDir=$work/out/
UseInputDir=0
UseOrigRes=0
XResolution=2000
YResolution=2000
CONF

Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY="$display"
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb CUPS_SERVER="$work/no-cupsd.sock" "$vantrelw" \
  >"$work/vantrelw.log" 2>&1 &
app=$!

# Gives the focus to the visible window of that title, waited for up to 60 s (a window found as it is
# being replaced is looked up again).
focus() {
  local id
  for _ in $(seq 5); do
    id="$(timeout 60 xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1)" || fail "no window \"$1\""
    if xdotool windowfocus --sync "$id" 2>/dev/null; then
      sleep 0.3
      return
    fi
    sleep 0.3
  done
  fail "cannot focus \"$1\""
}

# Twenty names at a time: a longer line typed into the dialog loses keys on a slow (sanitizer) build.
for first in $(seq 1 20 "$files"); do
  focus 'ZEBVANTREL V5.0'
  xdotool key alt+a
  focus 'Add Files'
  names=""
  for n in $(seq "$first" $((first + 19))); do names+="\"a0-$n.tif\" "; done
  xdotool type --delay 5 "$work/in/"
  xdotool key Return
  sleep 0.5
  xdotool type --delay 5 "$names"
  xdotool key Return
  # The dialog closes once it has handed over its files: the next round waits for that.
  for _ in $(seq 300); do
    xdotool search --onlyvisible --name '^Add Files$' >/dev/null 2>&1 || break
    sleep 0.2
  done
  xdotool search --onlyvisible --name '^Add Files$' >/dev/null 2>&1 && fail "the Add Files dialog stayed open"
done

focus 'ZEBVANTREL V5.0'
xdotool key alt+t
focus 'Translating'
xdotool key Escape
focus 'Translation summary'
xdotool key Escape
focus 'ZEBVANTREL V5.0'
xdotool key alt+q
for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app" 2>/dev/null && fail "vantrelw did not end after Quit"
app=""

outputs=("$work"/out/*)
[ -e "${outputs[0]}" ] || outputs=()
count=${#outputs[@]}
[ "$count" -lt "$files" ] || fail "all $files files were translated: Cancel did not stop the run"
for output in "${outputs[@]}"; do
  case "$output" in *.cg4) ;; *) fail "unexpected file $output" ;; esac
  # vantrel's exit status is 1 when the translation is complete.
  status=0
  "$vantrel" "$output" "$work/check.cg4" >/dev/null || status=$?
  [ "$status" -eq 1 ] || fail "$output is not a complete page"
done
grep -q '^StopAtFirstError=0' "$work/config/ZEB/vantrelw.conf" || fail "settings not written back"
echo "vantrelw black-box run: cancelled after $count of $files files"
