#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer (Debian: clang-14, libclang-rt-14-dev). Not part of
# the normal build or of CI.
#   fuzz/build.sh [build-folder]          build (default: build-fuzz)
# Targets and their seeds (run each with a corpus folder of its own):
#   fits_reader_fuzz         fuzz/seeds/*.fit   refused inputs: tests/data/fits/bad
#   bmp_reader_fuzz          fuzz/seeds/bmp     tests/data/fuzz/bmp
#   pnm_reader_fuzz          fuzz/seeds/pnm     tests/data/fuzz/pnm
#   exif_reader_fuzz         fuzz/seeds/exif    tests/data/fuzz/exif
#   settings_file_fuzz       fuzz/seeds/settings  tests/data/fuzz/settings
#   translation_file_fuzz    fuzz/seeds/translation  tests/data/fuzz/translation
#   network_file_fuzz        fuzz/seeds/network  tests/data/fuzz/network
#   batch_file_fuzz          fuzz/seeds/batch   tests/data/fuzz/batch
#   shift_list_fuzz          fuzz/seeds/shift_list
# for example
#   mkdir -p build-fuzz/corpus/bmp
#   TMPDIR=/dev/shm build-fuzz/bmp_reader_fuzz -max_total_time=300 -max_len=20000 -rss_limit_mb=4096 \
#     build-fuzz/corpus/bmp fuzz/seeds/bmp tests/data/fuzz/bmp
# Inputs that made a target fail go into its folder under tests/data (FITS:
# tests/data/fits/bad) so that the test suite keeps checking them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-fuzz}
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g -O1"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DASTRELON_TESTS=OFF -DASTRELON_BENCH=OFF >/dev/null
cmake --build "$build" --target astrelon_engine
libs=$(pkg-config --libs libtiff-4 libjpeg libpng zlib libraw | sed "s/-fopenmp/-lgomp/")
for target in fits_reader bmp_reader pnm_reader exif_reader settings_file translation_file network_file batch_file shift_list; do
  # shellcheck disable=SC2086
  clang++-14 -std=c++20 $flags -fsanitize=fuzzer -I "$root/src" "$root/fuzz/${target}_fuzz.cpp" \
    "$build/libastrelon_engine.a" $libs -lpthread -o "$build/${target}_fuzz"
  echo "built $build/${target}_fuzz"
done
mkdir -p "$build/corpus"
