// File and MPI side of the unsaturated zone's output preparation (see
// unsatzon_statistics.h): control-cell files, the model log and the sums of
// the start report.
#include <mpi.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "modelbase/diagstream.h"
#include "modelbase/modelobject.h"
#include "soilwater/unsatzon_statistics.h"

namespace {

double sum_at_zero(double value) {
  double total = 0;
  MPI_Reduce(&value, &total, 1, MPI_DOUBLE, MPI_SUM, 0, MPI_COMM_WORLD);
  return total;
}

}  // namespace

soil_water_sums reduce_soil_water_sums(const soil_water_sums& own) {
  soil_water_sums total;
  total.nu = sum_at_zero(own.nu);
  total.wu = sum_at_zero(own.wu);
  total.ng = sum_at_zero(own.ng);
  total.wg = sum_at_zero(own.wg);
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  return rank == 0 ? total : own;
}

void create_control_cell_files(DiagStream& diag, const std::vector<control_cell_target>& files,
                               int row, int col, int layer_count, int vegetation_layers) {
  for (const control_cell_target& target : files) {
    std::unique_ptr<std::FILE, file_closer> file(std::fopen(target.name.c_str(), "wt"));
    const std::string header =
        control_cell_header(target.file, row, col, layer_count, vegetation_layers);
    // The entry's words are fixed; the file and the reason follow on a line of their own.
    if (file == nullptr || std::fputs(header.c_str(), file.get()) < 0)
      fail_fatal(diag, 62, control_cell_open_error(target.file), "\n", target.name,
                 errno_text(errno));
    std::FILE* f = file.release();
    if (std::fclose(f) != 0)
      fail_fatal(diag, 62, control_cell_open_error(target.file), "\n", target.name,
                 errno_text(errno));
  }
}

void append_model_log(const std::string& directory, int rank, const std::string& text) {
  const std::string name = "modell_" + std::to_string(rank) + ".log";
  const std::string path = directory.empty() ? name : directory + "/" + name;
  std::unique_ptr<std::FILE, file_closer> file(std::fopen(path.c_str(), "a+"));
  if (file != nullptr) std::fputs(text.c_str(), file.get());
}
