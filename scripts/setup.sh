#!/usr/bin/env bash
# Set-up, build and test on Debian 12 (run as root for the package step).
#   scripts/setup.sh deps      install the missing Debian packages
#   scripts/setup.sh build     configure and build (build/)
#   scripts/setup.sh run [F…]  deps, build, start the program
#   scripts/setup.sh test      deps, build, run the whole test suite
#   scripts/setup.sh sanitize  build with ASan/UBSan (build-asan/) and run the suite
#   scripts/setup.sh tsan      build the test programs whose code runs worker bands with
#                              ThreadSanitizer (build-tsan/) and run them
#   scripts/setup.sh fuzz [SECONDS]  deps and clang, build the fuzz targets (build-fuzz/) and
#                              run each SECONDS (default 60) from its seeds; status 1 when
#                              one fails
#   scripts/setup.sh bench [FILTER]  deps and benchmark peers, build, run every benchmark
#                              (BENCH_RUNS times, default 3) and sum up each figure against its
#                              goal; status 1 when a figure is missed or missing
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  build-essential cmake ninja-build ccache pkg-config
  qt6-base-dev libgl1-mesa-dev
  libgtest-dev libgmock-dev
  libtiff-dev libjpeg62-turbo-dev libpng-dev zlib1g-dev libraw-dev
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev
  libcfitsio-dev python3 python3-astropy python3-numpy python3-scipy python3-skimage libvips-tools
  imagemagick libtiff-tools libraw-bin libjpeg-turbo-progs ffmpeg
  qt6-translations-l10n
  # OpenCV's demosaicing is the oracle of the colour-mosaic quality test.
  libopencv-imgproc-dev
)

# clang with libFuzzer and the sanitizers' run-time libraries for the fuzz
# targets, and llvm-symbolizer for their reports.
FUZZ_PACKAGES=(clang-14 libclang-rt-14-dev llvm-14)

# Google Benchmark and the peers that only the benchmarks compare against; the
# program and its tests need none of them.
BENCH_PACKAGES=(
  libbenchmark-dev libopencv-dev libvips-dev
  libfftw3-dev siril
)

deps() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if ((${#missing[@]})); then
    if [ "$(id -u)" -ne 0 ]; then
      echo "missing Debian packages (install as root): ${missing[*]}" >&2
      exit 1
    fi
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
  fi
}

jobs() { nproc; }

build() {
  local dir=$1; shift
  # Of the configure's own lines only those naming a benchmark left out show.
  cmake -S . -B "$dir" -G Ninja "$@" | { grep "left out" || true; }
  cmake --build "$dir" -j "$(jobs)"
}

runtests() {
  local dir=$1
  QT_QPA_PLATFORM=offscreen ctest --test-dir "$dir" -j "$(jobs)" --output-on-failure --timeout 600
}

# The engine test programs whose code runs on worker bands and worker threads
# (the Qt programs are left out: Qt itself is not built for ThreadSanitizer).
TSAN_PROGRAMS=(
  test_platform test_planes test_store test_display test_fits test_tiff test_raw test_loaders test_colour
  test_shell test_kernels test_pixelops test_mosaic test_geometry test_filters test_registration test_frequency
  test_batch test_enlargement test_sharpening
)

# The program, its tests and the benchmarks whose peers are installed.
PLAIN=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DASTRELON_BENCH_PEERS_REQUIRED=OFF)

cmd=${1:-test}; shift || true
case "$cmd" in
  deps) deps "${PACKAGES[@]}" ;;
  build) build build "${PLAIN[@]}" ;;
  run) deps "${PACKAGES[@]}"; build build "${PLAIN[@]}"; exec ./build/astrelon "$@" ;;
  test) deps "${PACKAGES[@]}"; build build "${PLAIN[@]}"; runtests build ;;
  bench)
    deps "${PACKAGES[@]}" "${BENCH_PACKAGES[@]}"
    build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DASTRELON_BENCH=ON -DASTRELON_BENCH_PEERS_REQUIRED=ON
    # Each benchmark runs BENCH_RUNS times (default 3); the summary lists every
    # figure the programs declare with its routine and peer times, its ratio's
    # median and spread and its goal. A figure missing from a run, one whose
    # benchmark or peer failed or whose result was wrong or not checked, and one
    # above its goal count as missed, and so does a program that failed or could
    # not start: the command then ends with status 1.
    # BENCH_OUT names a folder that keeps the programs' output (else a temporary one).
    if [ -n "${BENCH_OUT:-}" ]; then
      results=$BENCH_OUT
      mkdir -p "$results"
      rm -f "$results"/bench_*.list "$results"/bench_*.figures "$results"/bench_*.json "$results"/bench_*.error
    else
      results=$(mktemp -d)
      trap 'rm -rf "$results"' EXIT
    fi
    filter=${1:-.}
    failed=()
    for b in build/bench/bench_*; do
      [ -f "$b" ] && [ -x "$b" ] || continue
      name=$(basename "$b")
      # A program that cannot list its benchmarks (a missing library, a crash)
      # has failed; one with no benchmark matching the filter is passed over.
      if ! "$b" --benchmark_list_tests --benchmark_filter="$filter" >"$results/$name.list" 2>"$results/$name.error"; then
        echo "== $name cannot start: $(head -c 400 "$results/$name.error")" >&2
        rm -f "$results/$name.list"
        [ -s "$results/$name.error" ] || echo "listing its benchmarks failed" >"$results/$name.error"
        failed+=("$name")
        continue
      fi
      rm -f "$results/$name.error"
      if [ ! -s "$results/$name.list" ]; then rm -f "$results/$name.list"; continue; fi
      "$b" --figures >"$results/$name.figures" || failed+=("$name")
      echo "== $name (load average $(cut -d' ' -f1-3 /proc/loadavg))"
      "$b" --benchmark_filter="$filter" --benchmark_counters_tabular=true \
        --benchmark_repetitions="${BENCH_RUNS:-3}" --benchmark_display_aggregates_only=true \
        --benchmark_out="$results/$name.json" --benchmark_out_format=json || failed+=("$name")
    done
    status=0
    # The summary fails on a missed or unchecked figure, a program that could
    # not start and a run without any figure.
    python3 scripts/bench_summary.py --runs "${BENCH_RUNS:-3}" "$results" || status=1
    if ((${#failed[@]})); then echo "benchmarks that failed: ${failed[*]}" >&2; status=1; fi
    exit "$status" ;;
  sanitize)
    deps "${PACKAGES[@]}"
    build build-asan -DCMAKE_BUILD_TYPE=Debug -DASTRELON_SANITIZE=ON -DASTRELON_BENCH=OFF
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 runtests build-asan ;;
  tsan)
    deps "${PACKAGES[@]}"
    cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DASTRELON_TSAN=ON -DASTRELON_BENCH=OFF >/dev/null
    cmake --build build-tsan -j "$(jobs)" --target "${TSAN_PROGRAMS[@]}"
    labels=$(IFS='|'; echo "${TSAN_PROGRAMS[*]}")
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
      ctest --test-dir build-tsan -L "^(${labels})\$" -j "$(jobs)" --output-on-failure --timeout 900 ;;
  fuzz)
    deps "${PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"
    bash fuzz/build.sh build-fuzz
    bash fuzz/run.sh build-fuzz "${1:-${FUZZ_SECONDS:-60}}" ;;
  *) echo "unknown command: $cmd" >&2; exit 2 ;;
esac
