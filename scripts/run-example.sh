#!/usr/bin/env bash
# Builds Velmo and runs the example basin with one and with three processes.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target velmo
velmo="$(pwd)/build/velmo"
for np in 1 3; do
  run="build/example-run/np$np"
  rm -rf "$run"
  mkdir -p "$run"
  cp examples/basin/*.ctl examples/basin/*.asc "$run"/
  mkdir -p "$run/output"
  (cd "$run" && mpirun --oversubscribe --bind-to none --mca btl self,vader -np "$np" \
      "$velmo" basin.ctl -diagfile:basin.xml -diaglevel:INFO > console.txt)
  echo "example with $np process(es): results in $(pwd)/$run/output," \
       "diagnostics in $(pwd)/$run/basin_0.xml, console in $(pwd)/$run/console.txt"
done
