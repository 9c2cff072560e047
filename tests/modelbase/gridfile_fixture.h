// A model object for the tests of grid and stack files: the grid object of
// the store tests with setters for the measures, directories and the other
// fields the file operations read, and small helpers for file contents.
#pragma once

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "modelbase/grid_object_fixture.h"
#include "modelbase/gridfile_format.h"
#include "support/test_support.h"

class file_object : public grid_object {
 public:
  file_object(DiagStream& stream, grid_store& shared_store, int columns, int rows,
              double x_corner = 0, double y_corner = 0, double cell_size = 100.0,
              double nodata_value = NODATA)
      : grid_object(stream, shared_store, columns, rows, nodata_value, cell_size) {
    xllcorner = x_corner;
    yllcorner = y_corner;
    name = "file_object";
  }
  void set_directories(const std::string* in, const std::string* out) {
    input_directory = in;
    output_directory = out;
  }
  void set_rel_cell_area(const grid_matrix* area) { rel_cell_area = area; }
  void set_strips(std::vector<row_strip>* spans) { strips = spans; }
  void set_regions(const grid_matrix* regions) { mpi_regions = regions; }
  void set_nodata(double value) { nodata = value; }
  double stat_threshold_value() const { return stat_threshold; }
};

// Bytes of a binary file: the 12 header numbers and the values, in the
// file's precision.
inline std::string binary_bytes(const std::vector<double>& numbers, bool single) {
  std::vector<unsigned char> out;
  encode_values(numbers.data(), numbers.size(),
                single ? grid_format::binary_single : grid_format::binary_double, out);
  return std::string(out.begin(), out.end());
}

// Runs the test body in a scratch working directory (the log file of the
// hole filling is written to the working directory).
class scratch_workdir {
 public:
  explicit scratch_workdir(const std::string& path) : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(path);
  }
  ~scratch_workdir() { std::filesystem::current_path(previous_); }
  scratch_workdir(const scratch_workdir&) = delete;
  scratch_workdir& operator=(const scratch_workdir&) = delete;

 private:
  std::filesystem::path previous_;
};

// Number of non-overlapping occurrences of pattern in text.
inline int count_of(const std::string& text, const std::string& pattern) {
  int n = 0;
  for (size_t at = text.find(pattern); at != std::string::npos;
       at = text.find(pattern, at + pattern.size()))
    ++n;
  return n;
}

// True when the diagnostics file holds an entry of this level (0 FATAL ... 4
// DEBUG) with this text. Closes the stream: check after the operations.
inline bool has_entry(captured_diag& cap, int level, const std::string& text) {
  return cap.xml().find("<line level=\"" + std::to_string(level) + "\" description= \"" +
                        escape_diag_text(text) + "\"/>") != std::string::npos;
}
inline bool has_fatal(captured_diag& cap, const std::string& text) {
  return has_entry(cap, 0, text);
}

// Writes bytes to a file, replacing it.
inline void dir_write(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}
