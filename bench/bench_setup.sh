#!/usr/bin/env bash
# Whole-program set-up benchmark: generates a synthetic basin of n x n cells
# (bench/synthetic_basin.cpp) and runs the program on it with 1, 2, 4 and 8
# processes, one thread each, reporting the wall time of each run and the
# peak resident memory of every process. The files each run writes are
# compared with those of the one-process run (all but "MPIRegions_0", which
# shows the division).
#
#   bash bench/bench_setup.sh [build-dir] [n] [process counts...]
#   bash bench/bench_setup.sh build 4000 1 2 4 8
#   bash bench/bench_setup.sh build 4000 1 8 1 8 1 8   # interleaved repetitions
# A count may repeat: the runs alternate as listed and the best wall time of
# each count is reported at the end (a shared machine varies from minute to
# minute).
# GRIDS=single or GRIDS=double writes the grids in that binary format instead
# of text.
# FLOOR=1 runs bench_setup_floor after each run with the same process count,
# memory and written files, and reports its wall time as well: what the
# machine needs at the least for the run's memory and files (see there).
set -euo pipefail
build=$(realpath "${1:-build}")
n=${2:-4000}
shift 2 || true
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(1 2 4 8)

work=$(mktemp -d "${TMPDIR:-/tmp}/velmo_setup_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$build/synthetic_basin" "$n" 8 "$work"
case "${GRIDS:-text}" in
  text) ;;
  single) sed -i 's/^WriteAsciiGrids = 1$/WriteAsciiGrids = 0/' "$work/basin.ctl" ;;
  double) sed -i -e 's/^WriteAsciiGrids = 1$/WriteAsciiGrids = 0/' \
            -e 's/^WriteDoubleGrids = 0$/WriteDoubleGrids = 1/' "$work/basin.ctl" ;;
  *) echo "GRIDS must be text, single or double" >&2; exit 2 ;;
esac
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 OMP_NUM_THREADS=1
echo "basin ${n} x ${n}, ${GRIDS:-text} grids, load: $(cut -d' ' -f1-3 /proc/loadavg)"
floor_head=""
[ "${FLOOR:-0}" = 1 ] && floor_head="floor [s]"
printf '%-10s %10s %10s  %s\n' processes "wall [s]" "$floor_head" \
  "peak RSS per process [MiB] (rank 0 first)"
reference=""
declare -A best
index=0
for np in "${counts[@]}"; do
  index=$((index + 1))
  run="$work/run_${index}_$np"
  mkdir -p "$run/output"
  cp "$work/zones.asc" "$work/dem.asc" "$work/basin.ctl" "$work/MpiSpeedFactor.dat" "$run/"
  # The files of the runs before are written back first, so that no run
  # waits for the disk on behalf of another.
  sync
  start=$(date +%s.%N)
  (cd "$run" && mpirun --oversubscribe --bind-to none --mca btl self,vader -np "$np" \
     bash -c '/usr/bin/time -f "%M" -o rss_${OMPI_COMM_WORLD_RANK} "$0" basin.ctl >/dev/null' \
     "$build/velmo")
  end=$(date +%s.%N)
  rss=""
  for ((r = 0; r < np; ++r)); do rss+="$(( $(tail -1 "$run/rss_$r") / 1024 )) "; done
  wall=$(echo "$end - $start" | bc)
  floor=""
  if [ "${FLOOR:-0}" = 1 ]; then
    mkdir -p "$run/floor"
    sync
    start=$(date +%s.%N)
    mpirun --oversubscribe --bind-to none --mca btl self,vader -np "$np" \
      "$build/bench_setup_floor" "$run/output" "$run/floor" $rss >/dev/null
    end=$(date +%s.%N)
    floor=$(printf '%10.2f' "$(echo "$end - $start" | bc)")
    rm -rf "$run/floor"
  fi
  printf '%-10s %10.2f %10s  %s\n' "$np" "$wall" "$floor" "$rss"
  if [ -z "${best[$np]:-}" ] || [ "$(echo "$wall < ${best[$np]}" | bc)" = 1 ]; then
    best[$np]=$wall
  fi
  if [ -z "$reference" ]; then
    reference="$run/output"
  else
    for f in "$reference"/*; do
      name=$(basename "$f")
      [ "$name" = MPIRegions_0 ] && continue
      cmp -s "$f" "$run/output/$name" || echo "  differs from the first run: $name"
    done
  fi
  rm -f "$run"/zones.asc "$run"/dem.asc
  [ "$run/output" = "$reference" ] || rm -rf "$run"
done
if [ ${#best[@]} -lt ${#counts[@]} ]; then
  echo "best wall time per process count:"
  for np in $(printf '%s\n' "${!best[@]}" | sort -n); do
    printf '%-10s %10.2f\n' "$np" "${best[$np]}"
  done
fi
