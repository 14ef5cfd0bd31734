#!/usr/bin/env bash
# Runs every fuzz target fuzz/build.sh built for a bounded time, starting from
# its seeds and the inputs kept under tests/data. Status 1 when a target fails:
# a crash, a sanitizer report, a failed check, a leak, an input that runs longer
# than FUZZ_TIMEOUT seconds or an unknown target; the input that did it is kept
# in <build-folder>/artifacts.
#   fuzz/run.sh [build-folder] [seconds]   defaults: build-fuzz, FUZZ_SECONDS or 60
# Targets run side by side, one a core, at most four (FUZZ_JOBS); each grows
# its corpus in <build-folder>/corpus/<target>.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build-fuzz}" && pwd)
seconds=${2:-${FUZZ_SECONDS:-60}}
timeout=${FUZZ_TIMEOUT:-30}
# The folder that holds one seed folder a target (FUZZ_SEEDS replaces it).
seed_root=${FUZZ_SEEDS:-$root/fuzz/seeds}
jobs=${FUZZ_JOBS:-$(($(nproc) < 4 ? $(nproc) : 4))}

# The seed folder under fuzz/seeds and the folders of kept inputs of a target.
inputs() {
  case "$1" in
    fits_reader) echo "fits tests/data/fits/bad" ;;
    bmp_reader) echo "bmp tests/data/fuzz/bmp" ;;
    pnm_reader) echo "pnm tests/data/fuzz/pnm" ;;
    exif_reader) echo "exif tests/data/fuzz/exif" ;;
    settings_file) echo "settings tests/data/fuzz/settings" ;;
    translation_file) echo "translation tests/data/fuzz/translation" ;;
    network_file) echo "network tests/data/fuzz/network" ;;
    network_forward) echo "network tests/data/fuzz/network" ;;
    mosaic_settings) echo "qcm" ;;
    batch_file) echo "batch tests/data/fuzz/batch" ;;
    shift_list) echo "shift_list" ;;
    *) return 1 ;;
  esac
}

# The sanitizers' reports name functions and lines.
[ -d /usr/lib/llvm-14/bin ] && export PATH="/usr/lib/llvm-14/bin:$PATH"
# Each input goes through a file: kept in memory where the machine allows.
scratch=$(mktemp -d -p "$([ -w /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")")
trap 'rm -rf "$scratch"' EXIT
export TMPDIR=$scratch
mkdir -p "$build/artifacts" "$scratch/logs"

run_target() {
  local t=$1 seeds kept dirs=()
  read -r seeds kept <<<"$(inputs "$t")"
  dirs=("$build/corpus/$t" "$seed_root/$seeds")
  [ -n "${kept:-}" ] && [ -d "$root/$kept" ] && dirs+=("$root/$kept")
  mkdir -p "$build/corpus/$t"
  local status=0
  "$build/${t}_fuzz" -max_total_time="$seconds" -timeout="$timeout" -rss_limit_mb=4096 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$t-" "${dirs[@]}" >"$scratch/logs/$t" 2>&1 || status=$?
  echo "$status" >"$scratch/logs/$t.status"
}

targets=()
for exe in "$build"/*_fuzz; do
  [ -x "$exe" ] || continue
  t=$(basename "$exe" _fuzz)
  if ! inputs "$t" >/dev/null; then
    echo "fuzz target $t has no seeds in fuzz/run.sh" >&2
    exit 1
  fi
  # A target must start from at least one seed: an empty or missing seed
  # folder would let it run on nothing and pass.
  read -r seeds _ <<<"$(inputs "$t")"
  if [ -z "$(find "$seed_root/$seeds" -type f -print -quit 2>/dev/null)" ]; then
    echo "fuzz target $t: its seed folder $seed_root/$seeds is empty or missing" >&2
    exit 1
  fi
  targets+=("$t")
done
if ((${#targets[@]} == 0)); then
  echo "no fuzz targets in $build (fuzz/build.sh builds them)" >&2
  exit 1
fi

echo "fuzzing ${#targets[@]} targets for $seconds s each, $jobs at a time (load average $(cut -d' ' -f1-3 /proc/loadavg))"
for t in "${targets[@]}"; do
  while (($(jobs -rp | wc -l) >= jobs)); do wait -n || true; done
  run_target "$t" &
done
wait

passed=0
failed=()
for t in "${targets[@]}"; do
  log=$scratch/logs/$t
  status=$(cat "$log.status")
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  if [ "$status" = 0 ]; then
    echo "${t}_fuzz: ${runs:-?} inputs, no failure"
    passed=$((passed + 1))
  else
    failed+=("$t")
    echo "${t}_fuzz FAILED (status $status); its seed and the end of its report:" >&2
    grep -m1 "Seed:" "$log" >&2 || true
    tail -n 60 "$log" >&2
  fi
done
echo "fuzz: $passed passed, ${#failed[@]} failed"
((${#failed[@]} == 0))
