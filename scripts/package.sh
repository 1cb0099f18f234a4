#!/usr/bin/env bash
# Builds the Debian packages vantrel, libvantrel-dev (and vantrelw when it is built) in build-pkg/ for the
# prefix /usr, and lists them with their contents. The packages land in build-pkg/packages/.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/setup.sh
cmake -S . -B build-pkg -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DVANTREL_TESTS=OFF -DVANTREL_BENCH=OFF >/dev/null
cmake --build build-pkg -j2
rm -rf build-pkg/packages
(cd build-pkg && cpack -B packages >/dev/null)
for deb in build-pkg/packages/*.deb; do
  echo "== $deb ($(stat -c %s "$deb") bytes)"
  dpkg-deb -f "$deb" Package Version Depends
  dpkg-deb -c "$deb" | awk '$3 != 0 {print "   ", $3, $6}'
done
