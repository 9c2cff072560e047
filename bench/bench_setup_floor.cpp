// The least a set-up run can take on this machine: what is left of a run
// without reading, parsing, computing or sending anything. Every process maps
// and populates as much grid memory as the program's process of the same rank
// held at its peak, in grid blocks mapped as the program maps them, and
// writes an equal share of the bytes of every file the program wrote, the
// same way (through mappings of reserved blocks, else through MPI-IO). Wall
// time of the mpirun that starts it, against the program's, shows how much of
// the program's time is left above what the machine needs for its memory and
// its files at that process count (bench/bench_setup.sh with FLOOR=1).
//   mpirun -np N build/bench_setup_floor <program's output folder> <folder to write into>
//          <peak MiB of process 0> ... <peak MiB of process N-1>
// Process 0 reports the seconds spent populating and writing; code 1 on a
// bad call or a failed write.
#include <mpi.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "modelbase/gridfile_mpi.h"
#include "modelbase/mapped_output.h"
#include "modelbase/memhandling.h"

namespace {

constexpr int GRID_COLUMNS = 4000;            // [cells] a row of a 4000 x 4000 grid
constexpr int BLOCK_ROWS = 500;               // [rows] about 16 MB per block
constexpr long long WRITE_PIECE = 4LL << 20;  // [bytes] copied per call
// A mapped write holds at most 64 MiB of the file at a time; it counts in the
// peak resident size of the program's process but is not grid memory.
constexpr long long MAPPED_PIECE_MIB = 64;  // [MiB]

long long own_peak_mib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

// Grid blocks of about mib MiB, every cell written once.
std::vector<grid_matrix> populate(memory_handling& memory, long long mib) {
  std::vector<grid_matrix> blocks;
  const long long block_bytes = static_cast<long long>(BLOCK_ROWS) * (GRID_COLUMNS + 1) * 8;
  for (long long held = 0; held < (mib << 20); held += block_bytes) {
    grid_matrix block = memory.matrix_for_overwrite(1, BLOCK_ROWS, 1, GRID_COLUMNS, BLOCK_ROWS);
    for (int r = 1; r <= BLOCK_ROWS; ++r) std::fill(block[r] + 1, block[r] + GRID_COLUMNS + 1, 1.0);
    blocks.push_back(std::move(block));
  }
  return blocks;
}

// Collective. This process's share of the size bytes of path, through a
// mapping where the blocks are reserved, else through MPI-IO, as the program
// writes.
bool write_share(const std::string& path, long long size, bool reserved, int rank,
                 int processes, const std::vector<char>& text) {
  const long long first = size * rank / processes;
  const long long end = size * (rank + 1) / processes;
  if (reserved) {
    mapped_output out(path);
    bool written = out.usable();
    for (long long at = first; written && at < end; at += WRITE_PIECE)
      written =
          out.write_at(at, text.data(), static_cast<size_t>(std::min(WRITE_PIECE, end - at)));
    return out.close() && written;
  }
  MPI_File file;
  if (MPI_File_open(MPI_COMM_WORLD, path.c_str(), MPI_MODE_WRONLY, MPI_INFO_NULL, &file) !=
      MPI_SUCCESS)
    return false;
  file_failure failure;
  for (long long at = first; failure.code == 0 && at < end; at += WRITE_PIECE)
    mpi_write_at(file, at, text.data(), std::min(WRITE_PIECE, end - at), path, failure);
  return MPI_File_close(&file) == MPI_SUCCESS && failure.code == 0;
}

}  // namespace

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  int rank = 0;
  int processes = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &processes);
  if (argc != 3 + processes) {
    if (rank == 0)
      std::fprintf(stderr,
                   "usage: bench_setup_floor <program's output folder> <folder to write into> "
                   "<peak MiB of every process>\n");
    MPI_Finalize();
    return 1;
  }
  namespace fs = std::filesystem;
  std::vector<std::pair<std::string, long long>> files;
  for (const auto& entry : fs::directory_iterator(argv[1]))
    if (entry.is_regular_file())
      files.emplace_back(entry.path().filename().string(),
                         static_cast<long long>(entry.file_size()));
  std::sort(files.begin(), files.end());
  const long long grid_mib =
      std::max(0LL, std::atoll(argv[3 + rank]) - own_peak_mib() - MAPPED_PIECE_MIB);

  memory_handling memory;
  MPI_Barrier(MPI_COMM_WORLD);
  const double start = MPI_Wtime();
  const std::vector<grid_matrix> blocks = populate(memory, grid_mib);
  MPI_Barrier(MPI_COMM_WORLD);
  const double populated = MPI_Wtime();

  const std::vector<char> text(static_cast<size_t>(WRITE_PIECE), '7');
  int failed = 0;
  for (const auto& [name, size] : files) {
    const std::string path = (fs::path(argv[2]) / name).string();
    int state[2] = {0, 0};  // created, reserved
    if (rank == 0) {
      std::FILE* created = std::fopen(path.c_str(), "wb");
      state[0] = created != nullptr && std::fclose(created) == 0;
      state[1] = state[0] && mapped_output::reserve_blocks(path, size);
    }
    MPI_Bcast(state, 2, MPI_INT, 0, MPI_COMM_WORLD);
    int mine =
        state[0] && write_share(path, size, state[1] != 0, rank, processes, text) ? 0 : 1;
    MPI_Allreduce(MPI_IN_PLACE, &mine, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
    failed |= mine;
  }
  const double done = MPI_Wtime();
  if (rank == 0) {
    if (failed != 0) std::fprintf(stderr, "bench_setup_floor: a write into %s failed\n", argv[2]);
    std::printf("memory %.2f s (%lld MiB at process 0), writes %.2f s (%zu files)\n",
                populated - start, grid_mib, done - populated, files.size());
  }
  MPI_Finalize();
  return failed;
}
