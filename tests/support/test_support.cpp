#include "support/test_support.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

scratch_dir::scratch_dir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "velmo_test_XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

scratch_dir::~scratch_dir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void scratch_dir::write(const std::string& name, const std::string& text) const {
  std::ofstream f(file(name), std::ios::binary);
  f << text;
}

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

captured_diag::captured_diag(int level, int rank, int count)
    : diag(std::make_unique<DiagStream>(dir.file("diag.xml"), level, out, rank, count)) {}

std::string captured_diag::xml() {
  diag->close();
  return read_file(dir.file("diag_0.xml"));
}
