// The diagnostics stream: console echo, line elements of the XML file, level
// filter, escaping, file names and the silence of processes other than 0.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "modelbase/diagstream.h"
#include "support/diag_xml.h"
#include "support/test_support.h"

namespace {

const std::string NEXT = "\n(mpi-rank  0) ";  // console end of an entry on process 0

struct entry_case {
  const char* name;
  int filter_level;
  std::function<void(DiagStream&)> write;
  std::string console;
  std::vector<std::string> elements;  // line elements between start and finish line
};

// Expected texts are written out by hand from the stream's rules: console
// without level word and marker, file escaped, one element per entry.
const std::vector<entry_case>& entry_cases() {
  static const std::vector<entry_case> cases = {
      {"filter 2 drops info, keeps warning",
       2,
       [](DiagStream& d) {
         d << "INFO: done"
           << "[end-entry]"
           << "WARNING: low"
           << "[end-entry]";
       },
       "done" + NEXT + "low" + NEXT,
       {diag_line(2, "low")}},
      {"entry opened by a number has level 4",
       4,
       [](DiagStream& d) { d << 42 << " cells[end-entry]"; },
       "42 cells" + NEXT,
       {diag_line(4, "42 cells")}},
      {"filter 3 drops the level-4 entry of a number",
       3,
       [](DiagStream& d) { d << 42 << " cells[end-entry]"; },
       "42 cells" + NEXT,
       {}},
      {"escaping of markup, newline and dash runs",
       4,
       [](DiagStream& d) { d << "ERROR: a & b, x<y>z 'q' \"w\"\nnext ----- end[end-entry]"; },
       "a & b, x<y>z 'q' \"w\"\nnext ----- end" + NEXT,
       {diag_line(1, "a &amp; b, x&lt;y&gt;z &apos;q&apos; &quot;w&quot;;next -- end")}},
      {"escaping runs ampersand first",
       4,
       [](DiagStream& d) { d << "INFO: &lt;[end-entry]"; },
       "&lt;" + NEXT,
       {diag_line(3, "&amp;lt;")}},
      {"bare marker after an ended entry is an empty level-4 element",
       4,
       [](DiagStream& d) {
         d << "INFO: a[end-entry]"
           << "[end-entry]";
       },
       "a" + NEXT + NEXT,
       {diag_line(3, "a"), diag_line(4, "")}},
      {"skip entries stay on the console",
       4,
       [](DiagStream& d) {
         d << "SKIP: choose 0-3: "
           << "[end-entry]";
       },
       "choose 0-3: " + NEXT,
       {}},
      {"skip word inside an open entry closes its element",
       4,
       [](DiagStream& d) {
         d << "INFO: a"
           << "SKIP: prompt"
           << "[end-entry]";
       },
       "aprompt" + NEXT,
       {diag_line(3, "a")}},
      {"second level word opens a second element, one console line",
       4,
       [](DiagStream& d) {
         d << "FATAL: x"
           << "WARNING: y"
           << "[end-entry]";
       },
       "xy" + NEXT,
       {diag_line(0, "x"), diag_line(2, "y")}},
      {"entry left open is closed by the stream's end",
       4,
       [](DiagStream& d) { d << "INFO: open"; },
       "open",
       {diag_line(3, "open")}},
      {"width pads the next insertion only",
       4,
       [](DiagStream& d) {
         d << "INFO: n=";
         d.set_width(5);
         d << 42 << "|" << 7 << "[end-entry]";
       },
       "n=   42|7" + NEXT,
       {diag_line(3, "n=   42|7")}},
      {"width opening an entry pads the text, not the element head",
       4,
       [](DiagStream& d) {
         d.set_width(4);
         d << "ab[end-entry]";
       },
       "  ab" + NEXT,
       {diag_line(4, "  ab")}},
      // 1/3 in six significant digits; 0.1f as the double 0.100000001 in six.
      {"number renderings",
       4,
       [](DiagStream& d) {
         d << "DEBUG: " << 1.0 / 3.0 << " " << 0.1f << " " << int64_t{-5} << " "
           << uint64_t{18446744073709551615ULL} << " " << 2.5e-7 << "[end-entry]";
       },
       "0.333333 0.1 -5 18446744073709551615 2.5e-07" + NEXT,
       {diag_line(4, "0.333333 0.1 -5 18446744073709551615 2.5e-07")}},
      {"characters are themselves unless they would break the file",
       4,
       [](DiagStream& d) {
         d << "INFO: " << 'a' << '-' << '<' << '"' << '&' << '\x01' << "[end-entry]";
       },
       std::string("a-<\"&\x01") + NEXT,
       {diag_line(3, "a-&lt;&quot;&amp;?")}},
      {"control bytes and broken UTF-8 become '?', valid UTF-8 and tab stay",
       4,
       [](DiagStream& d) {
         d << "WARNING: bell\x07 tab\t \xff ok \xc3\xa9 \xef\xbf\xbe![end-entry]";
       },
       "bell\x07 tab\t \xff ok \xc3\xa9 \xef\xbf\xbe!" + NEXT,
       {diag_line(2,
                  "bell? tab\t ? ok \xc3\xa9 ?"
                  "?"
                  "?!")}},
      {"a name holding the marker does not end the entry",
       4,
       [](DiagStream& d) { d << "INFO: name " << std::string("a[end-entry]b") << "[end-entry]"; },
       "name a[end-entry]b" + NEXT,
       {diag_line(3, "name a[end-entry]b")}},
      {"the level word of a string object sets the level, the console keeps it",
       4,
       [](DiagStream& d) { d << std::string("ERROR: s") << "[end-entry]"; },
       "ERROR: s" + NEXT,
       {diag_line(1, "s")}},
      {"fatal_fail writes one fatal entry",
       4,
       [](DiagStream& d) {
         try {
           fail_fatal(d, 17, "error in control file, ", std::string("key"), "; ", 3, "not found!");
         } catch (int) {
         }
       },
       "error in control file, key; 3not found!" + NEXT,
       {diag_line(0, "error in control file, key; 3not found!")}},
  };
  return cases;
}

TEST(DiagStream, EntriesOnConsoleAndInFile) {
  for (const entry_case& c : entry_cases()) {
    SCOPED_TRACE(c.name);
    captured_diag cap(c.filter_level);
    c.write(*cap.diag);
    const std::string console = cap.console();
    std::string why;
    const std::vector<std::string> lines = diag_xml_lines(cap.xml(), &why);
    ASSERT_FALSE(lines.empty()) << why;
    EXPECT_EQ(console, c.console);
    const std::vector<std::string> elements(lines.begin() + 1, lines.end() - 1);
    EXPECT_EQ(elements, c.elements);
  }
}

TEST(DiagStream, FatalErrorThrowsItsCode) {
  captured_diag cap;
  try {
    fail_fatal(*cap.diag, 19, "read error ", std::string("f"));
    ADD_FAILURE() << "fail_fatal returned";
  } catch (int code) {
    EXPECT_EQ(code, 19);
  }
}

TEST(DiagStream, OtherProcessesWriteNothing) {
  captured_diag cap(4, 1, 3);
  *cap.diag << "FATAL: x"
            << "[end-entry]" << 5 << "SKIP: y[end-entry]";
  cap.diag->close();
  EXPECT_EQ(cap.console(), "");
  EXPECT_EQ(cap.diag->file_name(), cap.dir.file("diag_1.xml"));
  EXPECT_TRUE(std::filesystem::is_empty(cap.dir.path()));
}

TEST(DiagStream, FileNameIsStemBeforeLastDotAndRank) {
  // Stem before the last dot anywhere in the text (also in a directory name),
  // "_", rank, ".xml"; no option: Velmo_Diag.
  scratch_dir dir;
  struct row {
    std::string argument;
    int rank;
    std::string expected;
  };
  const std::vector<row> rows = {
      {dir.file("run.xml"), 0, dir.file("run_0.xml")},
      {dir.file("diag"), 0, dir.file("diag_0.xml")},
      {dir.file("out.d/diag"), 0, dir.file("out_0.xml")},
      {dir.file("a.b.c"), 0, dir.file("a.b_0.xml")},
      {"", 2, "Velmo_Diag_2.xml"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.argument);
    std::ostringstream console;
    DiagStream d(r.argument, 4, console, r.rank, 3);
    EXPECT_EQ(d.file_name(), r.expected);
    d.close();
    EXPECT_EQ(std::filesystem::exists(r.expected), r.rank == 0);
  }
}

TEST(DiagStream, EscapingOfOnePiece) {
  struct row {
    std::string in;
    std::string out;
  };
  // Hand-escaped: & first, newline to ';', then < > ' ", dash runs to "--".
  const std::vector<row> rows = {
      {"a & b", "a &amp; b"},  {"x<y", "x&lt;y"}, {"one\ntwo", "one;two"},
      {"-----", "--"},         {"--", "--"},      {"a---b----c", "a--b--c"},
      {"'\"", "&apos;&quot;"}, {"\r", "\r"},      {"", ""},
  };
  for (const row& r : rows) EXPECT_EQ(escape_diag_text(r.in), r.out) << r.in;
}

TEST(DiagStream, EveryWriteAfterCloseLeavesTheFileAlone) {
  captured_diag cap;
  *cap.diag << "INFO: before[end-entry]";
  const std::string xml = cap.xml();
  *cap.diag << "INFO: after[end-entry]";
  EXPECT_EQ(read_file(cap.dir.file("diag_0.xml")), xml);
  EXPECT_EQ(cap.console(), "before" + NEXT + "after" + NEXT);
}

}  // namespace
