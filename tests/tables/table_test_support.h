// Helpers of the table tests: a control file in a scratch directory, opened
// by a model object as the settings object would, and the diagnostics
// entries that a reader wrote.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "modelbase/modelobject.h"
#include "support/test_support.h"

// A diagnostics entry: its level (0 FATAL .. 4 DEBUG) and its text without
// the level word.
struct diag_record {
  int level = -1;
  std::string text;
  bool operator==(const diag_record&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const diag_record& r) {
  return os << "{" << r.level << ", \"" << r.text << "\"}";
}

class control_file_reader {
 public:
  explicit control_file_reader(const std::string& control_text) {
    cap_.dir.write("control.txt", control_text);
    reader_ = std::make_unique<modelobject>(cap_.diag.get(), cap_.dir.file("control.txt"));
    if (!reader_->open_control_file()) ADD_FAILURE() << "control file not opened";
  }
  modelobject& reader() { return *reader_; }
  DiagStream& diag() { return *cap_.diag; }

  // Entries written so far: the texts from the console echo (exact bytes), the
  // levels from the diagnostics file. Closes the stream.
  std::vector<diag_record> records() {
    const std::string console = cap_.console();
    std::vector<std::string> texts;
    const std::string separator = "\n(mpi-rank  0) ";
    size_t start = 0;
    for (size_t hit = console.find(separator); hit != std::string::npos;
         hit = console.find(separator, start)) {
      texts.push_back(console.substr(start, hit - start));
      start = hit + separator.size();
    }
    std::vector<int> levels;
    const std::string xml = cap_.xml();
    const std::string mark = "<line level=\"";
    for (size_t hit = xml.find(mark); hit != std::string::npos; hit = xml.find(mark, hit + 1))
      levels.push_back(xml[hit + mark.size()] - '0');
    // The file opens and closes with its start and finish lines.
    std::vector<diag_record> out;
    for (size_t i = 0; i < texts.size(); ++i)
      out.push_back({i + 1 < levels.size() ? levels[i + 1] : -1, texts[i]});
    return out;
  }

 private:
  captured_diag cap_;
  std::unique_ptr<modelobject> reader_;
};

// Runs body, which must throw an int; returns the code (-1 when nothing was
// thrown).
template <class Body>
int thrown_code(Body&& body) {
  try {
    body();
  } catch (int code) {
    return code;
  }
  return -1;
}

constexpr int FATAL_LEVEL = 0;
constexpr int INFO_LEVEL = 3;
