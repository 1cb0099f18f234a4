#!/usr/bin/env bash
# Makes the Debian packages from the build tree, extracts each with dpkg-deb -x into a temporary folder,
# runs the extracted vantrel on a drawing, builds the consumer against the extracted libvantrel-dev, checks
# the batch translator's desktop file and icon, and requires lintian to report no errors.
# usage: packages_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build="$1"
source="$2"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

(cd "$scratch" && cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" >/dev/null)
shopt -s nullglob
debs=("$scratch"/out/*.deb)
[ ${#debs[@]} -ge 2 ] || { echo "packages: expected at least two packages, got ${#debs[@]}" >&2; exit 1; }

status=0
for deb in "${debs[@]}"; do
  package="$(dpkg-deb -f "$deb" Package)"
  echo "== $package $(dpkg-deb -f "$deb" Version) ($(stat -c %s "$deb") bytes)"
  dpkg-deb -c "$deb" | awk '{print "   ", $3, $6}'
  dpkg-deb -x "$deb" "$scratch/root"
  [ -f "$scratch/root/usr/share/doc/$package/copyright" ] || { echo "packages: no copyright in $package" >&2; status=1; }
  [ -f "$scratch/root/usr/share/doc/$package/changelog.Debian.gz" ] || { echo "packages: no changelog in $package" >&2; status=1; }
  # Errors fail the test; warnings are shown.
  lintian --tag-display-limit 0 "$deb" >"$scratch/lintian.txt" 2>&1 || true
  grep -v 'root privileges' "$scratch/lintian.txt" || true
  if grep -q '^E:' "$scratch/lintian.txt"; then status=1; fi
done
depends="$(dpkg-deb -f "$scratch"/out/vantrel_*.deb Depends)"
echo "vantrel depends on: $depends"
case "$depends" in
  *libc6*libstdc++6*|*libstdc++6*libc6*) ;;
  *) echo "packages: vantrel's dependencies were not computed from the binary" >&2; status=1 ;;
esac

# The batch translator's package carries its menu entry, valid, and the icon it names.
shopt -s nullglob
batch=("$scratch"/out/vantrelw_*.deb)
if [ ${#batch[@]} -eq 1 ]; then
  contents="$(dpkg-deb -c "${batch[0]}")"
  for f in usr/bin/vantrelw usr/share/applications/vantrelw.desktop \
      usr/share/icons/hicolor/scalable/apps/vantrelw.svg; do
    grep -q " \./$f\$" <<<"$contents" || { echo "packages: $f is not in vantrelw" >&2; status=1; }
  done
  desktop-file-validate "$scratch/root/usr/share/applications/vantrelw.desktop" || status=1
  grep -qx 'Icon=vantrelw' "$scratch/root/usr/share/applications/vantrelw.desktop" || status=1
  /usr/bin/python3 -c 'import sys, xml.etree.ElementTree as e; sys.exit(e.parse(sys.argv[1]).getroot().tag != "{http://www.w3.org/2000/svg}svg")' \
    "$scratch/root/usr/share/icons/hicolor/scalable/apps/vantrelw.svg" || { echo "packages: the icon is no SVG" >&2; status=1; }
fi

# The extracted console translates a drawing, and reads its man page.
"$build/drawgen" -w 800 -h 600 -f rnl "$scratch/drawing.rnl"
set +e
"$scratch/root/usr/bin/vantrel" "$scratch/drawing.rnl" "$scratch/drawing.cg4"
code=$?
set -e
[ "$code" -eq 1 ] && [ -s "$scratch/drawing.cg4" ] || { echo "packages: extracted vantrel failed ($code)" >&2; status=1; }
man -l "$scratch"/root/usr/share/man/man1/vantrel.1* >/dev/null || status=1

# The extracted development files serve a consumer through the CMake package.
mkdir "$scratch/run"
cmake -S "$source/tests/install/consumer" -B "$scratch/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$scratch/root/usr" >/dev/null
cmake --build "$scratch/consumer" >/dev/null
"$scratch/consumer/consumer" "$scratch/run" || status=1
exit "$status"
