#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz and runs each for the given
# number of seconds (default 60), starting from its seed corpus in
# tests/fuzz/corpus/<target>. New inputs go to build-fuzz/corpus/<target>;
# a crash, a leak of time (over 10 s for one input) or memory (2 GB) stops
# that target and leaves its input in build-fuzz/artifacts. The exit status
# is 1 when any target found something.
#   bash scripts/run-fuzz.sh [seconds] [target ...]
# VELMO_FUZZ_BUILD names another build directory.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(text_grid gif_grid control_symbols time_series)
fi
bash scripts/install-deps.sh
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
# Open MPI's own allocations are not ours to report; a finding must stop.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
jobs=$(nproc)
build="${VELMO_FUZZ_BUILD:-build-fuzz}"

cmake -S . -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMO_SANITIZE=ON -DVELMO_FUZZ=ON -DVELMO_TESTS=OFF \
  >/dev/null
cmake --build "$build" -j "$jobs" --target "${targets[@]/#/fuzz_}"

failed=()
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  artifacts="$build/artifacts/$target"
  mkdir -p "$corpus" "$artifacts"
  echo "fuzzing $target for $seconds s"
  if ! "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/" \
      "$corpus" "tests/fuzz/corpus/$target" > "$build/fuzz_$target.log" 2>&1; then
    failed+=("$target")
    tail -n 60 "$build/fuzz_$target.log"
    echo "fuzz_$target found a fault; its input: $(ls "$artifacts")"
  else
    grep -E "^Done" "$build/fuzz_$target.log" || true
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found faults in: ${failed[*]} (inputs in $build/artifacts)"
  exit 1
fi
echo "fuzzing: ${#targets[@]} targets ran ${seconds} s each without a finding"
