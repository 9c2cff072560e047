// The text grid reader: the input is a text grid file read onto the 5 x 4
// model grid, header check, body and hole filling included. The fill mode
// follows the input's length (0 none, 1 and 2 the two filling rules), so
// every mode meets every kind of file.
#include <cstdio>
#include <string>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz_start(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz_input_file("grid.asc", data, size);
  quiet_diag diag;
  grid_store store;
  fuzz_grid_object object(diag.stream, store);
  grid_matrix grid;
  try {
    object.read_grid(path, grid, static_cast<int>(size % 3), true, false, 0.0, true, false,
                     false, false);
  } catch (int) {
    // A refused file is a result, not a finding.
  }
  // The holes' log grows with every input otherwise.
  std::remove("modell_0.log");
  return 0;
}
