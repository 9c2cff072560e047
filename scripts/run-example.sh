#!/usr/bin/env bash
# Builds Velmo and runs the example basin.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target velmo
mkdir -p build/example-run
cd build/example-run
# No example basin can run yet: the program starts, reports and ends.
mpirun --oversubscribe --bind-to none --mca btl self,vader -np 2 ../velmo -diagfile:example.xml -diaglevel:INFO
echo "diagnostics written to $(pwd)/example_0.xml"
