// The control cell of the unsaturated zone: its files are created with their
// header lines, and their row buffers sized, on the process that owns it.
#include "soilwater/unsatzon.h"
#include "soilwater/unsatzon_statistics.h"

void unsatzonmodellklasse::create_control_cell_outputs() {
  const int r = params.control_row;
  const int c = params.control_column;
  if (r <= 0 || c <= 0 || mpi_regions == nullptr || r >= mpi_regions->pointer_count() ||
      (*mpi_regions)[r] == nullptr || (*mpi_regions)[r][c] != rank)
    return;
  using cf = unsatzon_cell_file;
  auto file_of = [this](cf file) { return params.cell_files[static_cast<size_t>(file)]; };
  std::vector<control_cell_target> files = {{control_cell_file::hhyd, file_of(cf::hhyd)},
                                            {control_cell_file::otherdata, file_of(cf::otherdata)},
                                            {control_cell_file::theta, file_of(cf::theta)},
                                            {control_cell_file::q_bottom, file_of(cf::qbottom)},
                                            {control_cell_file::etr, file_of(cf::etr)},
                                            {control_cell_file::interflow, file_of(cf::interflow)}};
  if (params.heat_flow_control > 0)
    files.push_back({control_cell_file::temperature, params.temperature_cell_file});
  create_control_cell_files(*diag, files, r, c, layer_count, vegetation_layers);
  for (const control_cell_target& target : files) {
    control_cell_buffer buffer;
    buffer.values_per_row = target.file == control_cell_file::otherdata
                                ? otherdata_values(vegetation_layers)
                                : layer_count + 1;
    buffer.capacity = control_cell_capacity(buffer.values_per_row);
    buffer.file_name = target.name;
    if (target.file == control_cell_file::otherdata) buffer.last_value = 6 * vegetation_layers + 18;
    if (target.file == control_cell_file::etr) buffer.first_value = 0;
    buffer.dates.resize(static_cast<size_t>(buffer.capacity) + 1);
    buffer.values.assign(
        (static_cast<size_t>(buffer.capacity) + 1) * static_cast<size_t>(buffer.values_per_row),
        0.0);
    cell_buffers.push_back(std::move(buffer));
  }
}
