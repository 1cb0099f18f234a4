#!/usr/bin/env bash
# Takes the README's picture of vantrelw's main dialog: starts the program under Xvfb with an empty
# profile of its own, grabs the screen with xwd and crops it to the dialog (netpbm), into
# docs/vantrelw.png. Needs a Release build in build/ (cmake ... && ninja -C build vantrelw).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

program="build/vantrelw"
[ -x "$program" ] || { echo "screenshot: build $program first" >&2; exit 1; }
output="docs/vantrelw.png"
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
