#!/usr/bin/env bash
# Installs the build tree into a temporary prefix and builds a program of another project against it, once
# through find_package(Vantrel) and once through pkg-config, then runs both. Checks the installed layout.
# usage: consumer_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build="$1"
source="$2"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
prefix="$scratch/prefix"

cmake --install "$build" --prefix "$prefix" >/dev/null

for f in bin/vantrel share/man/man1/vantrel.1.gz include/vantrel/rio/rcb.h include/vantrel/run/translate.h \
    include/vantrel/formats/registry.h; do
  [ -f "$prefix/$f" ] || { echo "consumer: $f not installed" >&2; exit 1; }
done
library="$(find "$prefix" -name libvantrel.a)"
pcfile="$(find "$prefix" -name vantrel.pc)"
[ -n "$library" ] && [ -n "$pcfile" ] || { echo "consumer: no libvantrel.a or vantrel.pc" >&2; exit 1; }

# Every installed header compiles on its own: the set is closed under its includes.
for header in $(cd "$prefix/include" && find vantrel -name '*.h'); do
  echo "#include <$header>" | c++ -std=c++20 -Wall -Wextra -Werror -fsyntax-only \
    -I"$prefix/include" -I"$prefix/include/vantrel" -x c++ - || { echo "consumer: $header" >&2; exit 1; }
done

cmake -S "$source/tests/install/consumer" -B "$scratch/cmake-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/cmake-build" >/dev/null
mkdir "$scratch/run-cmake"
"$scratch/cmake-build/consumer" "$scratch/run-cmake"

export PKG_CONFIG_PATH="$(dirname "$pcfile")"
# shellcheck disable=SC2046
c++ -std=c++20 -Wall -Wextra -Werror -o "$scratch/consumer-pc" "$source/tests/install/consumer/consumer.cpp" \
  $(pkg-config --cflags --libs vantrel)
mkdir "$scratch/run-pc"
"$scratch/consumer-pc" "$scratch/run-pc"
echo "consumer: built and ran against $prefix with CMake and pkg-config"
