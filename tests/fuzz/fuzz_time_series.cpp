// The time-series reader: the input is a dated table read to its end in
// windows of a few rows (a budget of 200 bytes), so that every table meets
// refills; each row's date and every column are read, and the rows are
// stepped over back and forth.
#include <string>

#include "fuzz/fuzz_support.h"
#include "modelbase/timeseries.h"

namespace {

constexpr uint64_t WINDOW_BYTES = 200;  // [bytes] a few rows per window
constexpr int MAX_STEPS = 100000;       // a reader that never ends is a finding too
volatile double result_sink = 0;        // keeps the reads from being optimised away

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz_start(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz_input_file("table.txt", data, size);
  try {
    TimeSeriesReader reader(path, 0, WINDOW_BYTES);
    reader.set_row(-1);
    double sum = 0;
    int steps = 0;
    for (; steps < MAX_STEPS; ++steps) {
      reader.next_row();
      if (reader.reader_status != TSR_MORE_ROWS && reader.reader_status != TSR_LAST_WINDOW) break;
      int year = 0, month = 0, day = 0, hour = 0;
      reader.get_date(year, month, day, hour);
      for (int k = -1; k <= reader.value_count; ++k) sum += reader.get_value(k);
      reader.move_row(-1);
      reader.move_row(1);
    }
    if (steps == MAX_STEPS) __builtin_trap();
    reader.set_row(reader.rows_held());
    sum += reader.get_value(0);
    reader.free_buffers();
    sum += reader.get_value(0);
    result_sink = sum;
  } catch (int) {
    // Codes 201 and 202 report a first row that cannot be examined.
  }
  return 0;
}
