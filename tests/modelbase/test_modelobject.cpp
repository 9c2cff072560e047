// Control-file reading of a model object: sections, values, the error
// entries and codes, dates, linear interpolation, the log file and release.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "modelbase/modelobject.h"
#include "support/diag_xml.h"
#include "support/test_support.h"

namespace {

const std::string NEXT = "\n(mpi-rank  0) ";

class test_object : public modelobject {
 public:
  test_object(DiagStream& stream, const std::string& control_file, int process_rank = 0)
      : modelobject(&stream, control_file) {
    name = "test_object";
    rank = process_rank;
  }
};

// A control file with the given text, opened by a fresh object.
struct control_fixture {
  explicit control_fixture(const std::string& text, int level = 4) : cap(level) {
    cap.dir.write("run.ctl", text);
    object = std::make_unique<test_object>(*cap.diag, cap.dir.file("run.ctl"));
    EXPECT_TRUE(object->open_control_file());
  }
  std::FILE* file() const { return object->control_file(); }
  // The line elements written so far (closes the stream).
  std::vector<std::string> elements() {
    std::string why;
    const auto lines = diag_xml_lines(cap.xml(), &why);
    EXPECT_FALSE(lines.empty()) << why;
    if (lines.empty()) return {};
    return {lines.begin() + 1, lines.end() - 1};
  }
  captured_diag cap;
  std::unique_ptr<test_object> object;
};

int thrown_code(const std::function<void()>& f) {
  try {
    f();
  } catch (int code) {
    return code;
  }
  return 0;
}

TEST(ModelObject, SeekSectionComparesTheFirstWordOfEachLine) {
  struct row {
    const char* name;
    std::string text;
    bool found;
  };
  const std::vector<row> rows = {
      {"first word of a line", "# head\n[snow]\n1\n", true},
      {"after blank lines and leading blanks", "\n\n   [snow] comment\n1\n", true},
      {"not the first word", "x [snow]\n1\n", false},
      {"case differs", "[Snow]\n1\n", false},
      {"longer word", "[snow]x\n1\n", false},
      {"last line without line end", "a\n[snow]", false},
      // After the first word 1199 characters of a line are taken: here they
      // end just before "[snow]", which then is a line of its own ...
      {"header beyond 1199 characters", "x " + std::string(1198, 'y') + "[snow]\n1\n", true},
      // ... and here they end inside it.
      {"header cut at 1199 characters", "x " + std::string(1197, 'y') + "[snow]\n1\n", false},
      {"empty file", "", false},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    control_fixture f(r.text);
    EXPECT_EQ(f.object->seek_section("[snow]", false), r.found);
    EXPECT_EQ(f.cap.console(), "");  // a missing section is no error here
  }
}

TEST(ModelObject, ValuesAfterTheSectionWithTheirConversions) {
  control_fixture f(
      "[other]\n7\n[snow]\n 12 first value\n3.5e2\nname tail\n010\n010\n-4 2.25 two values\n1 " +
      std::string(1300, 'z') + "\n");
  ASSERT_TRUE(f.object->seek_section("[snow]", true));
  std::string line;
  int i = 0;
  EXPECT_EQ(f.object->read_value(f.file(), "%d", i, "first ", line), 1);
  EXPECT_EQ(i, 12);
  EXPECT_EQ(line, " first value\n");
  double x = 0;
  f.object->read_value(f.file(), "%lf", x, "second ", line);
  EXPECT_EQ(x, 350.0);
  std::string word;
  f.object->read_value(f.file(), "%s", word, "third ", line);
  EXPECT_EQ(word, "name");
  EXPECT_EQ(line, " tail\n");
  // "%i" reads a leading 0 as octal, "%d" does not.
  f.object->read_value(f.file(), "%i", i, "octal ", line);
  EXPECT_EQ(i, 8);
  f.object->read_value(f.file(), "%d", i, "decimal ", line);
  EXPECT_EQ(i, 10);
  long n = 0;
  EXPECT_EQ(f.object->read_two_values(f.file(), "%ld\t%lf", n, x, "pair ", line), 2);
  EXPECT_EQ(n, -4);
  EXPECT_EQ(x, 2.25);
  EXPECT_EQ(line, " two values\n");
  // The rest of a line is taken up to 1199 characters; the remainder of the
  // 1300 z is what the next read finds: 1300 - 1198 = 102 z and the line end.
  f.object->read_value(f.file(), "%d", i, "long ", line);
  EXPECT_EQ(line, " " + std::string(1198, 'z'));
  f.object->read_value(f.file(), "%s", word, "rest ", line);
  EXPECT_EQ(word, std::string(102, 'z'));
  EXPECT_EQ(f.elements(), std::vector<std::string>{});
}

TEST(ModelObject, ConversionsFollowTheirFormat) {
  struct row {
    std::string text;
    const char* format;
    int index;
    int count;
    std::string value;  // the target afterwards, printed
    std::string left;   // what stays in the file
  };
  // The scanf rules: a number stops at the first character it cannot use; a
  // width limits the characters taken; literal text must match.
  const std::vector<row> rows = {
      {"12.5 x", "%d", 0, 1, "12", ".5 x"}, {"0x1A", "%i", 0, 1, "26", ""},
      {"-017", "%i", 0, 1, "-15", ""},      {"abc", "%d", 0, 0, "0", "abc"},
      {"", "%d", 0, EOF, "0", ""},          {"abcdef g", "%3s", 0, 1, "abc", "def g"},
      {"x=5;", "x=%d", 0, 1, "5", ";"},     {"y=5;", "x=%d", 0, 0, "0", "y=5;"},
      {"name 7", "%s%d", 1, 1, "7", ""},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(std::string(r.format) + " on " + r.text);
    std::string text = r.text;
    std::FILE* file = fmemopen(text.data(), text.size(), "r");
    ASSERT_NE(file, nullptr);
    std::string value;
    int count = 0;
    if (std::string(r.format).ends_with("s")) {
      count = modelobject::scan_conversion(file, r.format, r.index, &value);
    } else {
      if (r.index == 1) {
        std::string first;
        modelobject::scan_conversion(file, r.format, 0, &first);
      }
      long number = 0;
      count = modelobject::scan_conversion(file, r.format, r.index, &number);
      value = std::to_string(number);
    }
    EXPECT_EQ(count, r.count);
    EXPECT_EQ(value, r.value);
    std::string left;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file))
      left.push_back(static_cast<char>(c));
    EXPECT_EQ(left, r.left);
    std::fclose(file);
  }
}

TEST(ModelObject, ErrorEntriesAndCodes) {
  struct row {
    const char* name;
    std::string text;
    std::function<void(test_object&, std::FILE*)> act;
    int code;
    std::vector<std::string> elements;
  };
  const std::vector<row> rows = {
      {"missing section that must exist",
       "[rain]\n1\n",
       [](test_object& o, std::FILE*) { o.seek_section("[snow]", true); },
       17,
       {diag_line(0, "error in control file, [snow]; (EOF)not found!")}},
      // The failed "%d" leaves the word in the file; it is echoed on its own.
      {"number expected, word found",
       "[snow]\nabc def\n",
       [](test_object& o, std::FILE* f) {
         o.seek_section("[snow]", true);
         int i = 0;
         std::string line;
         o.read_value(f, "%d", i, "number of layers in ", line);
       },
       17,
       {diag_line(4, "--&gt; In .;  Next line in Velmo control file: "), diag_line(4, "abc"),
        diag_line(0, "error in control file, number of layers in ; test_objectnot found!")}},
      {"value missing at the end of the file",
       "[snow]\n",
       [](test_object& o, std::FILE* f) {
         o.seek_section("[snow]", true);
         double x = 0;
         std::string line;
         o.read_value(f, "%lf", x, "factor ", line);
       },
       17,
       {diag_line(4, "--&gt; In .;  Next line in Velmo control file: "), diag_line(4, ""),
        diag_line(0, "error in control file, factor ; test_objectnot found!")}},
      {"second of two values missing: no extra entries",
       "[snow]\n3 x\n",
       [](test_object& o, std::FILE* f) {
         o.seek_section("[snow]", true);
         int a = 0;
         double b = 0;
         std::string line;
         o.read_two_values(f, "%d%lf", a, b, "pair ", line);
       },
       17,
       {diag_line(0, "error in control file, pair ; test_objectnot found!")}},
      // A missing value never takes the next section's header: the error
      // names the section being read instead of the object.
      {"word expected, next section found",
       "[snow]\n[rain]\n",
       [](test_object& o, std::FILE* f) {
         o.seek_section("[snow]", true);
         std::string word;
         std::string line;
         o.read_value(f, "%s", word, "name of the grid in ", line);
       },
       17,
       {diag_line(4, "--&gt; In .;  Next line in Velmo control file: "), diag_line(4, "[rain]"),
        diag_line(0, "error in control file, name of the grid in ; [snow]not found!")}},
      {"number expected, indented next section found",
       "[snow]\n1\n\n  [rain] 2\n",
       [](test_object& o, std::FILE* f) {
         o.seek_section("[snow]", true);
         int i = 0;
         std::string line;
         o.read_value(f, "%d", i, "first ", line);
         o.read_value(f, "%d", i, "second ", line);
       },
       17,
       {diag_line(4, "--&gt; In .;  Next line in Velmo control file: "), diag_line(4, "[rain]"),
        diag_line(0, "error in control file, second ; [snow]not found!")}},
      {"pair expected, next section found",
       "[snow]\n[rain]\n",
       [](test_object& o, std::FILE* f) {
         o.seek_section("[snow]", true);
         std::string a;
         int b = 0;
         std::string line;
         o.read_two_values(f, "%s%d", a, b, "pair ", line);
       },
       17,
       {diag_line(0, "error in control file, pair ; [snow]not found!")}},
      {"write error",
       "",
       [](test_object& o, std::FILE*) { o.fail_write("out/q.asc", 3, ENOSPC); },
       18,
       {diag_line(0, "write error out/q.asc: " + std::string(std::strerror(ENOSPC)) + " ! (3)")}},
      {"read error",
       "",
       [](test_object& o, std::FILE*) { o.fail_read("in/dem.asc", 4, EIO); },
       19,
       {diag_line(0, "read error in/dem.asc: " + std::string(std::strerror(EIO)) + " ! (4)")}},
      {"read at the end of the file",
       "",
       [](test_object& o, std::FILE*) { o.fail_read("in/dem.asc", 4, 0); },
       19,
       {diag_line(0, "read error in/dem.asc: unexpected end of file ! (4)")}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    control_fixture f(r.text);
    EXPECT_EQ(thrown_code([&] { r.act(*f.object, f.file()); }), r.code);
    EXPECT_EQ(f.elements(), r.elements);
  }
}

TEST(ModelObject, WordsThatBeginALineWithABracketAreNoValues) {
  struct row {
    std::string text;
    const char* format;
    int count;
    std::string value;
    std::string left;  // what stays in the file
  };
  const std::vector<row> rows = {
      {"[zone_grid]\n", "%s", 0, "", "[zone_grid]\n"},
      {"  \t[zone_grid] x\n", "%s", 0, "", "  \t[zone_grid] x\n"},
      {"\n\n[zone_grid]\n", "%200s", 0, "", "\n\n[zone_grid]\n"},
      {"\r\n[zone_grid]\n", "%s", 0, "", "\r\n[zone_grid]\n"},
      {"name[1]\n", "%s", 1, "name[1]", "\n"},
      {"zones.asc\n", "%s", 1, "zones.asc", "\n"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.text);
    std::string text = r.text;
    std::FILE* file = fmemopen(text.data(), text.size(), "r");
    ASSERT_NE(file, nullptr);
    std::string value;
    EXPECT_EQ(modelobject::scan_conversion(file, r.format, 0, &value), r.count);
    EXPECT_EQ(value, r.value);
    std::string left;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file))
      left.push_back(static_cast<char>(c));
    EXPECT_EQ(left, r.left);
    std::fclose(file);
  }

  // In the middle of a line a bracket is part of a value: the second word.
  std::string text = "grid [mm]\n";
  std::FILE* file = fmemopen(text.data(), text.size(), "r");
  ASSERT_NE(file, nullptr);
  std::string first, second;
  EXPECT_EQ(modelobject::scan_conversion(file, "%s%s", 0, &first), 1);
  EXPECT_EQ(modelobject::scan_conversion(file, "%s%s", 1, &second), 1);
  EXPECT_EQ(second, "[mm]");
  std::fclose(file);
}

TEST(ModelObject, TimeKeysOfAnyYearStayInRange) {
  // Years from data files may be any 64-bit number: the key stops at the end
  // of the range instead of wrapping to the other end.
  constexpr int64_t MAX = std::numeric_limits<int64_t>::max();
  constexpr int64_t MIN = std::numeric_limits<int64_t>::min();
  static_assert(time_key(2000, 12, 31, 23) == 186100773);
  EXPECT_EQ(time_key(MAX, 12, 31, 23), MAX);
  EXPECT_EQ(time_key(MAX / TIME_KEY_YEAR + 1, 1, 1, 0), MAX);
  EXPECT_EQ(time_key(9999, MAX, MAX, MAX), MAX);
  EXPECT_LT(time_key(MIN, 1, 1, 0), time_key(-9999, 1, 1, 0));
  EXPECT_LT(time_key(MIN / TIME_KEY_YEAR - 1, 12, 31, 23), 0);
  EXPECT_EQ(time_key(1, MIN, MIN, MIN), MIN);
  // The largest key that still fits is exact.
  EXPECT_EQ(time_key(MAX / TIME_KEY_YEAR, 0, 0, MAX % TIME_KEY_YEAR), MAX);
  EXPECT_GT(time_key(MAX / TIME_KEY_YEAR, 0, 0, 0), time_key(9999, 12, 31, 23));
}

TEST(ModelObject, InterpolateLinear) {
  captured_diag cap;
  test_object o(*cap.diag, "");
  struct row {
    double x1, y1, x2, y2, x, y;
  };
  // By hand: halfway between (1,10) and (3,30) is 20; beyond x2 the line goes
  // on: at 5, 10 + 2 * 20 = 50; x1 = x2 gives y1.
  const std::vector<row> rows = {{1, 10, 3, 30, 2, 20},    {1, 10, 3, 30, 5, 50},
                                 {0, 0, 10, 100, -5, -50}, {5, 7, 5, 9, 100, 7},
                                 {5, 7, 5, 9, 5, 7},       {2, -1, 4, -1, 3, -1}};
  for (const row& r : rows)
    EXPECT_DOUBLE_EQ(o.interpolate_linear(r.x1, r.y1, r.x2, r.y2, r.x), r.y) << r.x;
}

TEST(ModelObject, EndDateKeysCompareLikeDates) {
  captured_diag cap;
  test_object o(*cap.diag, "");
  const auto key = [&](uint64_t y, uint64_t m, uint64_t d, uint64_t h) {
    o.set_end_date(y, m, d, h);
    return o.end_time_key();
  };
  // 2000 * 93000 + 12 * 7750 + 31 * 250 + 23.
  EXPECT_EQ(key(2000, 12, 31, 23), 186100773);
  EXPECT_LT(key(2000, 12, 31, 23), key(2001, 1, 1, 0));
  EXPECT_GT(key(2000, 12, 31, 23), key(2000, 12, 31, 22));
  EXPECT_LT(key(2000, 1, 31, 23), key(2000, 2, 1, 0));
}

// Runs f with the working directory in dir.
void in_directory(const std::string& dir, const std::function<void()>& f) {
  const auto saved = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  f();
  std::filesystem::current_path(saved);
}

TEST(ModelObject, LogLinesOfProcessZero) {
  captured_diag cap;
  scratch_dir dir;
  in_directory(dir.path(), [&] {
    test_object zero(*cap.diag, "");
    zero.write_log_line(5, "first note");
    zero.write_log_line(0, "second note");
    test_object other(*cap.diag, "", 1);
    other.write_log_line(0, "never written");
  });
  EXPECT_FALSE(std::filesystem::exists(dir.file("modell_1.log")));
  std::istringstream log(read_file(dir.file("modell_0.log")));
  std::vector<std::string> lines;
  for (std::string l; std::getline(log, l);) lines.push_back(l);
  ASSERT_EQ(lines.size(), 4u);
  // The platform's calendar text: "Wed Jun 30 21:49:08 1993", 24 characters.
  const std::regex stamp(
      "[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}");
  EXPECT_TRUE(std::regex_match(lines[0], stamp)) << lines[0];
  EXPECT_EQ(lines[1], ": first note");
  EXPECT_TRUE(std::regex_match(lines[2], stamp)) << lines[2];
  EXPECT_EQ(lines[3], ": second note");
}

TEST(ModelObject, ReleaseReportsTheModule) {
  captured_diag cap(4);
  test_object o(*cap.diag, "");
  o.release();
  EXPECT_EQ(cap.console(), "deleting module test_object" + NEXT);
}

}  // namespace
