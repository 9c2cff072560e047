// The GIF reader: the input is a GIF image read onto the 5 x 4 model grid
// through its georeference (pixels of half a cell from the lower-left
// corner) and turned into values by the class rule.
#include <string>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz_start(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz_input_file("grid.gif", data, size);
  quiet_diag diag;
  grid_store store;
  fuzz_grid_object object(diag.stream, store);
  object.use_gif_georeference();
  grid_matrix grid;
  try {
    object.read_grid(path, grid, 0, true, false, 0.0, false, false, false, false);
  } catch (int) {
    // A refused file is a result, not a finding.
  }
  return 0;
}
