#!/usr/bin/env bash
# Takes the README's pictures of vantrelw: starts the program under Xvfb with an empty profile of its
# own, grabs the screen with xwd and crops it to the main dialog (netpbm), into docs/vantrelw.png; then
# drives it with xdotool through a run of three files, one of them bad, and grabs the summary window into
# docs/vantrelw-summary.png. Needs a Release build in build/ (cmake ... && ninja -C build vantrelw drawgen).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

program="build/vantrelw"
drawgen="build/drawgen"
for built in "$program" "$drawgen"; do
  [ -x "$built" ] || { echo "screenshot: build $built first" >&2; exit 1; }
done
output="docs/vantrelw.png"
summary="docs/vantrelw-summary.png"
mkdir -p docs

work="$(mktemp -d)"
display=":$((90 + RANDOM % 9))"
xvfb=""
app=""
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
sleep 1
# A fresh profile; no window manager, so the dialog sits at the top left corner.
XDG_CONFIG_HOME="$work" DISPLAY="$display" QT_QPA_PLATFORM=xcb "$program" >/dev/null 2>&1 &
app=$!
sleep 3
DISPLAY="$display" xwd -root -silent >"$work/screen.xwd"
xwdtopnm "$work/screen.xwd" 2>/dev/null | pnmcrop -white 2>/dev/null | pnmcrop -black 2>/dev/null |
  pnmtopng -compression 9 >"$output"
echo "screenshot: $output"

# The summary of a run: two drawings and a file that is no raster.
mkdir -p "$work/scans"
for sheet in 1 2; do "$drawgen" -p a4 -dpi 100 -f tif -seed "$sheet" "$work/scans/sheet-$sheet.tif"; done
echo "not a raster" >"$work/scans/notes.tif"
export DISPLAY="$display"
focus() {
  local id
  id="$(timeout 20 xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1)"
  xdotool windowfocus --sync "$id"
  sleep 0.3
  echo "$id"
}
focus 'ZEBVANTREL V5.0' >/dev/null
xdotool key alt+a
focus 'Add Files' >/dev/null
xdotool type --delay 5 "$work/scans/"
xdotool key Return
sleep 0.5
xdotool type --delay 5 '"sheet-1.tif" "notes.tif" "sheet-2.tif"'
xdotool key Return
sleep 0.5
focus 'ZEBVANTREL V5.0' >/dev/null
xdotool key alt+t
window="$(focus 'Translation summary')"
sleep 0.5
xwd -id "$window" -silent | xwdtopnm 2>/dev/null | pnmtopng -compression 9 >"$summary"
echo "screenshot: $summary"
