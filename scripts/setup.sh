#!/usr/bin/env bash
# Installs every package that building and testing Vantrel needs, when it is missing (Debian 12).
# Quiet when everything is present; runs apt-get as root, or through sudo otherwise.
set -euo pipefail

# Build tools, zlib (Deflate-coded TIFF), test frameworks, the fuzzing runtime, the independent tools the
# interop tests call (netpbm, libtiff-tools, ghostscript, hp2xx, GraphicsMagick and Pillow for Debian's
# python3; qpdf and poppler-utils for the PDF output), the charmaps localedef needs for the locale tests
# (locales), /usr/bin/time for measurements, and
# what the install and package tests use: mandoc (man page lint), pkg-config, dpkg-dev (dependencies of the
# packages) and lintian; GNU parallel for the scale-out recipe scripts/convert-tree.sh and desktop-file-utils
# to check the desktop file; libmd-dev, the SHA-256 of the page digest; slurm-wlm and munge, the one-node
# cluster of the job-array test (tests/scale/slurm_test.sh starts its daemons privately).
# The batch translator vantrelw: Qt 6 Widgets and PrintSupport, libcups and the CUPS server its printing
# test starts privately, Xvfb and xwd for its screenshot, xdotool for its black-box test.
# libtiff-dev: libtiff's decoder for the bench harness libtiff_decode that compare.sh times against.
PACKAGES="cmake ninja-build g++ zlib1g-dev googletest libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
netpbm libtiff-tools gdal-bin bc ghostscript hp2xx graphicsmagick python3-pil qpdf poppler-utils locales time
mandoc pkg-config dpkg-dev lintian parallel desktop-file-utils libmd-dev slurm-wlm munge
qt6-base-dev libcups2-dev cups cups-client xvfb x11-apps xdotool
libtiff-dev"

missing=()
for package in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "setup: root or sudo is needed to install: ${missing[*]}" >&2
  exit 1
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
