// The control-file preprocessing: the input is a control file whose symbols,
// comments and "//" joins are resolved into its ".$$$" copy.
#include <cstdio>
#include <string>

#include "fuzz/fuzz_support.h"
#include "settings/defltuzr.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz_start(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz_input_file("run.ctl", data, size);
  quiet_diag diag;
  unsigned status = 0;
  defaultini settings(status, &diag.stream, path, nullptr, 0, 2, nullptr);
  std::string copy;
  try {
    settings.compile_symbols(path, copy);
  } catch (int) {
    // An undefined symbol is a result, not a finding.
  }
  std::remove((path + ".$$$").c_str());
  return 0;
}
