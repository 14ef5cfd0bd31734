#!/usr/bin/env bash
# Builds the FITS reader fuzz target with clang and libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer (Debian: clang-14, libclang-rt-14-dev). Not part
# of the normal build or of CI.
#   fuzz/build.sh [build-folder]          build (default: build-fuzz)
#   TMPDIR=/dev/shm build-fuzz/fits_reader_fuzz -max_total_time=600 -max_len=20000 \
#     build-fuzz/corpus fuzz/seeds tests/data/fits/bad
# Inputs that make it fail are kept in tests/data/fits/bad (files the reader
# refuses) so that the test suite keeps checking them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-fuzz}
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g -O1"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DASTRELON_TESTS=OFF -DASTRELON_BENCH=OFF >/dev/null
cmake --build "$build" --target astrelon_engine
# shellcheck disable=SC2046
clang++-14 -std=c++20 $flags -fsanitize=fuzzer -I "$root/src" "$root/fuzz/fits_reader_fuzz.cpp" \
  "$build/libastrelon_engine.a" $(pkg-config --libs libtiff-4 libjpeg libpng zlib libraw | sed "s/-fopenmp/-lgomp/") -lpthread \
  -o "$build/fits_reader_fuzz"
mkdir -p "$build/corpus"
echo "built $build/fits_reader_fuzz"
