// The first pass over the command line: diagnostics options and the arguments
// the second pass skips.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/programentry.h"

namespace {

TEST(ProgramEntry, LevelWordIsUpperCasedThenCompared) {
  struct row {
    const char* word;
    int level;
  };
  const std::vector<row> rows = {
      {"FATAL", 0}, {"error", 1}, {"warning", 2}, {"Warning", 2}, {"WARNING", 2}, {"iNfO", 3},
      {"DEBUG", 4}, {"", 4},      {"VERBOSE", 4}, {"2", 4},       {"INFO ", 4},   {"WARN", 4},
  };
  for (const row& r : rows) EXPECT_EQ(diag_level_of(r.word), r.level) << r.word;
}

TEST(ProgramEntry, LastOccurrenceOfEachOptionCounts) {
  struct row {
    std::vector<std::string> args;  // without the program name
    int level;
    int level_index;
    std::string file;
    int file_index;
  };
  const std::vector<row> rows = {
      {{"a.ctl"}, 4, 0, "", 0},
      {{"-diaglevel:info", "a.ctl", "-diagfile:d.xml"}, 3, 1, "d.xml", 3},
      {{"-diaglevel:ERROR", "-diagfile:x", "-diaglevel:warning", "-diagfile:y"}, 2, 3, "y", 4},
      {{"-diagfile:"}, 4, 0, "", 1},
      // Without the colon, or in another case, the text is no option.
      {{"-diaglevel", "-DIAGLEVEL:info", "-diagfile"}, 4, 0, "", 0},
      {{"-diaglevel:-diagfile:z"}, 4, 1, "", 0},
  };
  for (const row& r : rows) {
    std::vector<std::string> storage = {"velmo"};
    storage.insert(storage.end(), r.args.begin(), r.args.end());
    std::vector<char*> argv;
    for (std::string& s : storage) argv.push_back(s.data());
    const diag_options options = read_diag_options(static_cast<int>(argv.size()), argv.data());
    SCOPED_TRACE(testing::PrintToString(r.args));
    EXPECT_EQ(options.level, r.level);
    EXPECT_EQ(options.level_index, r.level_index);
    EXPECT_EQ(options.file_name, r.file);
    EXPECT_EQ(options.file_index, r.file_index);
  }
}

TEST(ProgramEntry, DumpOptionsAnywhereInAnArgumentAreSkipped) {
  struct row {
    const char* argument;
    bool skipped;
  };
  const std::vector<row> rows = {
      {"-dumpmode", true},       {"-dumpmode:20", true},      {"run-dumpmode.ctl", true},
      {"-closeAfterDump", true}, {"x-repairAfterDump", true}, {"run.ctl", false},
      {"-dumpMode", false},      {"dumpmode", false},         {"-closeafterdump", false},
  };
  for (const row& r : rows) EXPECT_EQ(is_skipped_argument(r.argument), r.skipped) << r.argument;
}

TEST(ProgramEntry, VersionTextHasNoDollarSigns) {
  EXPECT_EQ(version_text(),
            "Richards 9.10.00, last change: Date: December 04 2016 01:48 , compiled at Dec  4 "
            "2016, 13:27:19");
}

}  // namespace
