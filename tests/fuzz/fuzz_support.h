// What the libFuzzer targets share: MPI started once for the single process
// (the readers take part in collective operations), a scratch working
// directory, a diagnostics stream that writes nothing, and a model object
// over a small fixed grid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "modelbase/modelobject.h"

// Starts MPI (once, for the whole run) and moves into a fresh scratch
// directory, where every target writes its input and its by-products.
void fuzz_start(int* argc, char*** argv);

// Writes the input as the file name (in the scratch directory) and returns
// its path.
std::string fuzz_input_file(const std::string& name, const uint8_t* data, size_t size);

// A diagnostics stream of a process other than 0: it keeps its bookkeeping
// but writes no console line and no file, so a long run leaves nothing behind.
struct quiet_diag {
  quiet_diag();
  std::ostringstream sink;
  DiagStream stream;
};

// The model grid of the grid targets: 5 columns and 4 rows of 100 m, lower-
// left corner (0, 0), nodata -9999, all rows held by this process; the zone
// grid (store entry 1) has one cell outside the basin.
constexpr int FUZZ_NCOLS = 5;
constexpr int FUZZ_NROWS = 4;
constexpr double FUZZ_CELLSIZE = 100.0;  // [m]

class fuzz_grid_object : public modelobject {
 public:
  fuzz_grid_object(DiagStream& stream, grid_store& shared_store);
  // The georeference and class rule of GIF images: the image's pixels are
  // half a cell wide, from the model's lower-left corner.
  void use_gif_georeference();

 private:
  grid_matrix zone_grid;
};
