#!/usr/bin/env bash
# Builds Velmo and runs every test: once as a normal build and once with
# AddressSanitizer and UndefinedBehaviorSanitizer; then each fuzz target for
# 20 s from its seed corpus, so that a reader that breaks on bad input is
# caught here.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs" --timeout 600)

# Open MPI's own allocations are not ours to report.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DVELMO_SANITIZE=ON >/dev/null
cmake --build build-sanitize -j "$jobs"
(cd build-sanitize && ctest --output-on-failure -j "$jobs" --timeout 900)

bash scripts/run-fuzz.sh 20
