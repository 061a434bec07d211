#!/usr/bin/env bash
# Installs the built library into a scratch prefix, then builds and runs a host
# program against it twice: through find_package(ZRFishEye) and through pkg-config.
set -euo pipefail
build_dir="$1"
source_dir="$(cd "$(dirname "$0")" && pwd)/consumer"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
libdir="$(find "$work/prefix" -name 'libZRFishEye.so*' -printf '%h\n' | head -n1)"

cmake -S "$source_dir" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
LD_LIBRARY_PATH="$libdir" "$work/cmake/consumer"

export PKG_CONFIG_PATH="$libdir/pkgconfig"
c++ -std=c++17 "$source_dir/consumer.cpp" -o "$work/consumer-pc" $(pkg-config --cflags --libs zrfisheye)
LD_LIBRARY_PATH="$libdir" "$work/consumer-pc"
echo "1 passed, 0 failed"
