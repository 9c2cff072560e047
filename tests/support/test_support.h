// Helpers shared by the unit and collective tests.
#pragma once

#include <memory>
#include <sstream>
#include <string>

#include "app/diagstream.h"

// A scratch directory under /tmp, removed with the object.
class scratch_dir {
 public:
  scratch_dir();
  ~scratch_dir();
  scratch_dir(const scratch_dir&) = delete;
  scratch_dir& operator=(const scratch_dir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& text) const;

 private:
  std::string path_;
};

std::string read_file(const std::string& path);

// A diagnostics stream writing its console echo into a string and its XML file
// into a scratch directory.
struct captured_diag {
  explicit captured_diag(int level = 4, int rank = 0, int count = 1);
  std::string console() const { return out.str(); }
  std::string xml();  // closes the stream and returns the file
  scratch_dir dir;
  std::ostringstream out;
  std::unique_ptr<DiagStream> diag;
};
