#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer (Debian: clang-14, libclang-rt-14-dev). Not part of
# the normal build; CI builds and runs them (scripts/setup.sh fuzz).
#   fuzz/build.sh [build-folder]          build (default: build-fuzz)
# fuzz/README.md lists the targets, their seeds and how to run them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-fuzz}
# No fused multiply-add: clang passes over the optimize attribute that keeps the
# AVX-512 loops from contracting, and the loops must round as their scalar twins.
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g -O1 -ffp-contract=off"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DASTRELON_TESTS=OFF -DASTRELON_BENCH=OFF >/dev/null
cmake --build "$build" --target astrelon_engine
libs=$(pkg-config --libs libtiff-4 libjpeg libpng zlib libraw | sed "s/-fopenmp/-lgomp/")
for target in fits_reader bmp_reader pnm_reader exif_reader settings_file translation_file network_file \
  network_forward mosaic_settings batch_file shift_list; do
  # shellcheck disable=SC2086
  clang++-14 -std=c++20 $flags -fsanitize=fuzzer -I "$root/src" "$root/fuzz/${target}_fuzz.cpp" \
    "$build/libastrelon_engine.a" $libs -lpthread -o "$build/${target}_fuzz"
  echo "built $build/${target}_fuzz"
done
mkdir -p "$build/corpus"
