// Helpers shared by the unit and collective tests.
#pragma once

#include <mpi.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>

#include "modelbase/diagstream.h"

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

inline int world_rank() {
  int r = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &r);
  return r;
}

inline int world_size() {
  int n = 1;
  MPI_Comm_size(MPI_COMM_WORLD, &n);
  return n;
}

// The path of a scratch directory made by process 0, known to all processes
// (collective).
inline std::string shared_path(const scratch_dir& dir) {
  char buffer[1024] = {};
  if (world_rank() == 0) std::snprintf(buffer, sizeof buffer, "%s", dir.path().c_str());
  MPI_Bcast(buffer, sizeof buffer, MPI_CHAR, 0, MPI_COMM_WORLD);
  return buffer;
}
