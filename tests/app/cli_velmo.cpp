// The program as a user starts it: command line, console, diagnostics file
// and exit status, with one process and with three.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/cli_support.h"
#include "support/diag_xml.h"

namespace {

int count_of(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) ++n;
  return n;
}

bool has_line(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The line elements of a diagnostics file, checked for well-formedness.
std::vector<std::string> xml_lines(const cli_workdir& dir, const std::string& name) {
  std::string why;
  auto lines = diag_xml_lines(dir.read(name), &why);
  EXPECT_FALSE(lines.empty()) << name << ": " << why;
  return lines;
}

const std::string USAGE =
    ";usage: velmovz[o]&lt;32|64&gt;|vedarazo64 &lt;1-st cntrl-file&gt; [&lt;2-nd cntrl-file&gt; "
    "... [n-th cntrl-file]] [-diagfile:&lt;diagnostics_file&gt; "
    "[-diaglevel:&lt;FATAL|ERROR|WARNING|INFO|DEBUG&gt;]] [-dumpmode "
    "[-closeAfterDump|-repairAfterDump]];";

// np 0 runs the program alone (a single process without mpirun): an abort
// under "mpirun -np 1" costs a second more.
TEST(Cli, NoArgumentsAbortsEveryProcessWithCode2) {
  for (int np : {0, 3}) {
    SCOPED_TRACE(np);
    cli_workdir dir;
    const run_result r = dir.run_velmo(np, {});
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_EQ(count_of(r.output, "\nusage: velmovz[o]<32|64>|vedarazo64 <1-st cntrl-file>"), 1)
        << r.output;
    const auto lines = xml_lines(dir, "Velmo_Diag_0.xml");
    EXPECT_TRUE(has_line(lines, diag_line(0, USAGE)));
    EXPECT_TRUE(has_line(lines, diag_line(0, "Exception 2 caught at top level!")));
    EXPECT_TRUE(has_line(lines, diag_line(0, "Program aborted with exit code 2")));
    // The explanation of the dump options is one information entry.
    EXPECT_EQ(
        std::count_if(lines.begin(), lines.end(),
                      [](const std::string& l) {
                        return l.starts_with("\t<line level=\"3\" description= \";-dumpmode: ");
                      }),
        1);
  }
}

TEST(Cli, OptionsOnlyEndNormally) {
  for (int np : {1, 3}) {
    SCOPED_TRACE(np);
    cli_workdir dir;
    const run_result r = dir.run_velmo(np, {"-diagfile:run.xml", "-diaglevel:debug"});
    EXPECT_EQ(r.status, 0) << r.output;
    // Banner and end on the console of process 0, each entry followed by the
    // prefix of the next. With several processes mpirun may put the other
    // processes' lines anywhere in between, so only one process is exact.
    if (np == 1) {
      EXPECT_TRUE(r.output.starts_with(std::string(76, '-') + "\n(mpi-rank  0) Velmo-Orv (MPI) \n"))
          << r.output;
      // The prefix written after the process line stands before the thread
      // report, which does not go through the stream.
      EXPECT_TRUE(
          r.output.ends_with("\nexitcode 0\n(mpi-rank  0) o.k.\n\nthe end.\n(mpi-rank  0) "))
          << r.output;
    }
    EXPECT_EQ(count_of(r.output, "exitcode 0\n"), 1) << r.output;
    EXPECT_EQ(count_of(r.output, "o.k.\n\nthe end.\n"), 1) << r.output;
    for (int p = 1; p <= np; ++p) {
      const std::string instance = "this is the MPI-Version of Velmo, here is instance " +
                                   std::to_string(p) + " of " + std::to_string(np);
      EXPECT_EQ(count_of(r.output, instance), 1) << instance;
      EXPECT_EQ(count_of(r.output, "*** There are 2 OpenMP threads total for MPI process " +
                                       std::to_string(p - 1) + "\n"),
                1);
    }
    EXPECT_EQ(count_of(r.output, "This is OpenMP thread "), 2 * np);
    // Only process 0 writes a file.
    for (int p = 1; p < np; ++p) EXPECT_FALSE(dir.exists("run_" + std::to_string(p) + ".xml"));
    const auto lines = xml_lines(dir, "run_0.xml");
    ASSERT_GE(lines.size(), 10u);
    const std::vector<std::string> expected_start = {
        diag_line(4, "--"),  // the 76 dashes
        diag_line(4, "Velmo-Orv (MPI) "),
        diag_line(4, "64-bit Version on Linux "),
        diag_line(4,
                  "Version: Richards 9.10.00, last change: Date: December 04 2016 01:48 , "
                  "compiled at Dec  4 2016, 13:27:19"),
    };
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.begin() + 5), expected_start);
    EXPECT_EQ(lines[6], diag_line(4, "; this is the MPI-Version of Velmo, here is instance 1 of " +
                                         std::to_string(np)));
    EXPECT_EQ(lines[lines.size() - 3], diag_line(4, "exitcode 0"));
    EXPECT_EQ(lines[lines.size() - 2], diag_line(4, "o.k.;;the end."));
  }
}

TEST(Cli, LevelFilterAndRepeatedOptions) {
  // The last "-diaglevel:" counts (warning, 2); the earlier one is taken as a
  // control file that cannot be opened: exit 28. Level-4 entries (banner) stay
  // on the console but not in the file.
  cli_workdir dir;
  const run_result r = dir.run_velmo(
      0, {"-diaglevel:DEBUG", "-diagfile:a.xml", "-diaglevel:Warning", "-diagfile:b.xml"});
  EXPECT_EQ(r.status, 28) << r.output;
  EXPECT_TRUE(r.output.find("Velmo-Orv (MPI) ") != std::string::npos);
  EXPECT_FALSE(dir.exists("a_0.xml"));
  const auto lines = xml_lines(dir, "b_0.xml");
  const std::vector<std::string> expected = {
      diag_line(0, "error opening -diaglevel:DEBUG: " + std::string(std::strerror(ENOENT))),
      diag_line(0, "exceptions in ModellApplication::init() caught!"),
      diag_line(0, "Exception 28 caught at top level!"),
      diag_line(0, "Program aborted with exit code 28"),
  };
  ASSERT_EQ(lines.size(), expected.size() + 2);
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end() - 1), expected);
}

TEST(Cli, DiagnosticsFileNames) {
  struct row {
    std::vector<std::string> args;
    std::string file;
  };
  // Stem before the last dot (also one in a directory name), "_0.xml".
  const std::vector<row> rows = {
      {{}, "Velmo_Diag_0.xml"},
      {{"-diagfile:diag"}, "diag_0.xml"},
      {{"-diagfile:out.d/diag"}, "out_0.xml"},
      {{"-diagfile:sub/run.log.xml"}, "sub/run.log_0.xml"},
  };
  for (const row& rw : rows) {
    cli_workdir dir;
    std::filesystem::create_directory(dir.file("sub"));
    std::vector<std::string> args = rw.args;
    args.push_back("-dumpmode");  // keeps the run free of the usage error
    const run_result r = dir.run_velmo(0, args);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_FALSE(xml_lines(dir, rw.file).empty()) << rw.file;
  }
}

TEST(Cli, UnwritableDiagnosticsFileFallsBackThenFails) {
  const std::string warning =
      "(mpi-rank  0) \n ----- Warning -----\n error opening diagnostics output file "
      "missing/x_0.xml\n(mpi-rank  0) \nusing default name Velmo_Diag.xml in actual working "
      "directory\n -------------------\n\n\n";
  {
    cli_workdir dir;
    const run_result r = dir.run_velmo(0, {"-diagfile:missing/x.xml", "-dumpmode"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(r.output.starts_with(warning)) << r.output;
    EXPECT_FALSE(xml_lines(dir, "Velmo_Diag.xml").empty());
  }
  {
    // A directory in place of the fallback file: code 320, which the shell
    // sees modulo 256.
    cli_workdir dir;
    std::filesystem::create_directory(dir.file("Velmo_Diag.xml"));
    const run_result r = dir.run_velmo(0, {"-diagfile:missing/x.xml", "-dumpmode"});
    EXPECT_EQ(r.status, 320 % 256) << r.output;
    // mpirun may put its own notice on the merged error stream first.
    EXPECT_NE(r.output.find(warning +
                            "(mpi-rank  0) Error opening diagnostics output file Velmo_Diag.xml\n"),
              std::string::npos)
        << r.output;
    EXPECT_TRUE(r.output.find("FATAL: Program aborted with exit code 320") != std::string::npos);
  }
}

TEST(Cli, MissingControlFileIsEscapedInTheFile) {
  // Every process fails alike; the file of process 0 still gets its entries
  // and its finish line. A control byte and a byte that is no UTF-8 become '?'.
  cli_workdir dir;
  const std::string name = "no&such<file>\"q'---x\x01\xff";
  const run_result r = dir.run_velmo(3, {name});
  EXPECT_EQ(r.status, 28) << r.output;
  EXPECT_TRUE(r.output.find("error opening " + name) != std::string::npos) << r.output;
  const auto lines = xml_lines(dir, "Velmo_Diag_0.xml");
  EXPECT_TRUE(has_line(
      lines, diag_line(0, "error opening no&amp;such&lt;file&gt;&quot;q&apos;--x??: " +
                              std::string(std::strerror(ENOENT)))));
  EXPECT_TRUE(has_line(lines, diag_line(0, "Program aborted with exit code 28")));
}

TEST(Cli, ControlFileNameLongerThan1200CharactersIsRefused) {
  // File names hold at most 1200 characters: 1200 is tried (and not found),
  // 1201 is refused before any attempt.
  struct row {
    size_t length;
    std::string message;
    std::string reason;  // the C library's text after the name
  };
  const std::vector<row> rows = {
      {1200, "error opening ", ": " + std::string(std::strerror(ENAMETOOLONG))},
      {1201, "control file name longer than 1200 characters: ", ""}};
  for (const row& rw : rows) {
    cli_workdir dir;
    const std::string name(rw.length, 'c');
    const run_result r = dir.run_velmo(0, {name});
    EXPECT_EQ(r.status, 28) << r.output.substr(0, 2000);
    const auto lines = xml_lines(dir, "Velmo_Diag_0.xml");
    EXPECT_TRUE(has_line(lines, diag_line(0, rw.message + name + rw.reason))) << rw.length;
  }
}

TEST(Cli, DumpOptionLookAlikesAreSkippedAndEachControlFileRuns) {
  for (int np : {0, 3}) {
    SCOPED_TRACE(np);
    cli_workdir dir;
    copy_example_basin(dir);
    dir.write("a.ctl", dir.read("basin.ctl"));
    dir.write("b.ctl", dir.read("basin.ctl"));
    const run_result r =
        dir.run_velmo(np, {"-dumpmode:5", "a.ctl", "run-dumpmode.ctl", "-closeAfterDump",
                           "x-repairAfterDump", "b.ctl", "-repairAfterDump"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output.find("error opening"), std::string::npos) << r.output;
    const auto lines = xml_lines(dir, "Velmo_Diag_0.xml");
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         diag_line(4, "reached end of simulation sucessfully")),
              2);
    EXPECT_EQ(lines[lines.size() - 3], diag_line(4, "exitcode 0"));
  }
}

}  // namespace
