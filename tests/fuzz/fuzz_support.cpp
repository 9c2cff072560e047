#include "fuzz/fuzz_support.h"

#include <mpi.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

std::string scratch_folder;

// At a normal end: MPI closed and the scratch folder gone. After a finding
// the folder stays, with the input that was read last.
void finish_run() {
  int finalized = 0;
  MPI_Finalized(&finalized);
  if (finalized == 0) MPI_Finalize();
  std::error_code ignored;
  std::filesystem::current_path(std::filesystem::temp_directory_path(), ignored);
  if (!scratch_folder.empty()) std::filesystem::remove_all(scratch_folder, ignored);
}

// The working directory changes below: corpus folders, input files and the
// path options are made absolute first (libFuzzer reads argv afterwards).
void make_paths_absolute(int argc, char** argv) {
  static std::vector<std::string> kept;
  kept.reserve(static_cast<size_t>(argc));
  const char* const path_options[] = {"-artifact_prefix=", "-exact_artifact_path=", "-dict=",
                                      "-merge_control_file=", "-features_dir="};
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string option;
    for (const char* o : path_options)
      if (arg.rfind(o, 0) == 0) option = o;
    if (option.empty() && arg.rfind("-", 0) == 0) continue;
    std::string path = arg.substr(option.size());
    if (path.empty() || path[0] == '/') continue;
    // A prefix may end in "/" (a folder) or be the start of a file name.
    kept.push_back(option + (std::filesystem::current_path() / path).string());
    argv[i] = kept.back().data();
  }
}

}  // namespace

void fuzz_start(int* argc, char*** argv) {
  int initialized = 0;
  MPI_Initialized(&initialized);
  if (initialized != 0) return;
  make_paths_absolute(*argc, *argv);
  MPI_Init(argc, argv);
  std::string dir = (std::filesystem::temp_directory_path() / "velmo_fuzz_XXXXXX").string();
  if (mkdtemp(dir.data()) == nullptr) std::abort();
  scratch_folder = dir;
  std::atexit(finish_run);
  std::filesystem::current_path(dir);
}

std::string fuzz_input_file(const std::string& name, const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(name.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  if (std::fclose(file) != 0) std::abort();
  return (std::filesystem::current_path() / name).string();
}

quiet_diag::quiet_diag() : stream("fuzz.xml", 0, sink, 1, 2) {}

fuzz_grid_object::fuzz_grid_object(DiagStream& stream, grid_store& shared_store)
    : modelobject(&stream, "") {
  name = "fuzz";
  ncols = FUZZ_NCOLS;
  nrows = FUZZ_NROWS;
  first_row = 1;
  last_row = FUZZ_NROWS;
  cellsize = FUZZ_CELLSIZE;
  nodata = NODATA;
  set_grid_store(&shared_store);
  zone_grid = matrix(1, FUZZ_NROWS, 1, FUZZ_NCOLS, FUZZ_NROWS);
  for (int r = 1; r <= FUZZ_NROWS; ++r)
    for (int c = 1; c <= FUZZ_NCOLS; ++c) zone_grid[r][c] = 1;
  zone_grid[2][3] = NODATA;
  shared_store[1].grid = &zone_grid;
  shared_store[1].grid_name = "zonegrid";
  shared_store[1].file_name = "zones.asc";
}

void fuzz_grid_object::use_gif_georeference() {
  set_gif_georeference(nullptr, 0.0, 0.0, FUZZ_CELLSIZE / 2);
  set_gif_mapping(1.0, 0.01, 100, 2.0, 0.005);
}
