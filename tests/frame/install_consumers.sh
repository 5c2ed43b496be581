#!/usr/bin/env bash
# Installs the build into a scratch prefix and builds and runs the two example
# consumers against that prefix alone: examples/find_package (CMake package,
# C++) and examples/pkg_config (pkg-config, C), then runs the installed tool.
# Usage: install_consumers.sh BUILD_DIR SOURCE_DIR SCRATCH_DIR
set -euo pipefail
build=$1 source=$2 scratch=$3
prefix=$scratch/prefix
rm -rf "$scratch"
mkdir -p "$scratch"

cmake --install "$build" --prefix "$prefix" >"$scratch/install.log"
libdir=$(dirname "$(find "$prefix" -name imgfilter.pc)")/..
[ "$(readlink "$libdir/libimgfilter.so")" = libimgfilter.so.1 ] || { echo "libimgfilter.so does not point to libimgfilter.so.1"; exit 1; }
[ -e "$libdir/libimgfilter.so.1" ] || { echo "libimgfilter.so.1 missing"; exit 1; }

echo "== find_package consumer"
cmake -S "$source/examples/find_package" -B "$scratch/find_package" -DCMAKE_PREFIX_PATH="$prefix" >"$scratch/configure.log"
cmake --build "$scratch/find_package" >"$scratch/build.log"
mkdir -p "$scratch/out-cmake"
"$scratch/find_package/vignette_check" "$source/samples/rocket.jpg" "$scratch/out-cmake"

echo "== pkg-config consumer"
cp -r "$source/examples/pkg_config" "$scratch/pkg_config"
PKG_CONFIG_PATH="$libdir/pkgconfig" make -s -C "$scratch/pkg_config"
mkdir -p "$scratch/out-pc"
LD_LIBRARY_PATH="$libdir" "$scratch/pkg_config/vignette_check" "$source/samples/rocket.jpg" "$scratch/out-pc"

echo "== installed tool"
"$prefix/bin/imgfilter" --version
"$prefix/bin/imgfilter" vignette --strength 1 "$source/samples/rocket.jpg" "$scratch/tool.bmp"
cmp "$scratch/tool.bmp" "$scratch/out-pc/vignette.bmp"
if [ -e "$build/cli/imgfilter.1.gz" ]; then
  gzip -dc "$prefix/share/man/man1/imgfilter.1.gz" | grep -q '^\.TH IMGFILTER "1"' || { echo "manual page missing"; exit 1; }
fi
