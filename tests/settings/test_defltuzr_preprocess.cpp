// The substituted control-file copy: symbols, comments and "//" joins, each
// row a control file and the copy it must give (or the error it must raise).
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "settings/defltuzr.h"
#include "support/diag_xml.h"
#include "support/test_support.h"

namespace {

struct copy_case {
  const char* name;
  std::string control;
  std::string copy;      // expected copy when code is 0
  int code;              // expected thrown code
  std::string message;   // a piece the diagnostics must hold ("" for none)
};

struct preprocess_fixture {
  explicit preprocess_fixture(const std::string& text) {
    cap.dir.write("run.ctl", text);
    settings = std::make_unique<defaultini>(status, cap.diag.get(), cap.dir.file("run.ctl"),
                                            nullptr, 0, 2, nullptr);
  }
  // The code thrown by compile_symbols, 0 when it succeeded.
  int compile() {
    try {
      settings->compile_symbols(cap.dir.file("run.ctl"), copy_name);
    } catch (int code) {
      return code;
    }
    return 0;
  }
  captured_diag cap;
  unsigned status = 99;
  std::unique_ptr<defaultini> settings;
  std::string copy_name;
};

}  // namespace

TEST(DefaultiniPreprocess, CopyLinesFromControlLines) {
  const std::vector<copy_case> rows = {
      {"plain lines pass unchanged", "a b\n\n[x]\n", "a b\n\n[x]\n", 0, ""},
      // A "#" takes the character before it: the blank here, the 5 below.
      {"comment after a blank", "x = 5 # note\n", "x = 5\n", 0, ""},
      {"comment right after a value", "x = 5# note\n", "x = \n", 0, ""},
      {"a comment line leaves no line at all", "a\n# note\nb\n", "a\nb\n", 0, ""},
      {"a comment hides a symbol word", "x = 1 # $nowhere\n", "x = 1\n", 0, ""},
      {"every // is removed, symbol or not", "path/to//file.txt\n", "path/tofile.txt\n", 0, ""},
      {"three slashes keep one", "a///b\n", "a/b\n", 0, ""},
      {"symbol used above its definition", "dir $d\n$set $d = /data/\n", "dir /data/\n", 0, ""},
      {"definition lines stay out of the copy", "$set $a = 1\nv $a\n", "v 1\n", 0, ""},
      // $b = $a//0 with $a = 1 gives 10.
      {"value built from an earlier symbol", "$set $a = 1\n$set $b = $a//0\nv $b\n", "v 10\n",
       0, ""},
      {"join after a symbol", "$set $dir = /data/\nf $dir//soil.txt\n", "f /data/soil.txt\n", 0,
       ""},
      {"a symbol word ends at ;", "$set $a = x\nv $a;\n", "v x;\n", 0, ""},
      {"only the first word after = is the value", "$set $a = one two\nv $a\n", "v one\n", 0,
       ""},
      {"two symbols in one line", "$set $a = 1\n$set $b = 2\n$a $b $a\n", "1 2 1\n", 0, ""},
      {"definition with leading blanks is copied unchanged", "  $set $a = 1\nx $a\n",
       "  $set $a = 1\nx 1\n", 0, ""},
      {"last line without a line end", "a\nb", "a\nb", 0, ""},
      {"an empty file gives an empty copy", "", "", 0, ""},
      {"a commented definition defines nothing", "#$set $a = 1\nv $a\n", "", 17,
       "undefined symbol at line 2:"},
      // Lines are counted in the file, comments and definitions included.
      {"undefined symbol", "a\n# c\n$set $x = 1\nuse $y here\n", "", 17,
       "undefined symbol at line 4:"},
      {"a $ word without any symbol", "cost $5\n", "", 17, "undefined symbol at line 1:"},
      {"a value may not use its own symbol", "$set $a = $a\n", "", 17,
       "undefined symbol at line 1:"},
      {"a value may not use a symbol defined below", "$set $a = $b\n$set $b = 1\n", "", 17,
       "undefined symbol at line 1:"},
  };
  for (const copy_case& r : rows) {
    SCOPED_TRACE(r.name);
    preprocess_fixture f(r.control);
    EXPECT_EQ(f.status, 0U);
    EXPECT_EQ(f.compile(), r.code);
    if (r.code == 0) {
      EXPECT_EQ(f.copy_name, f.cap.dir.file("run.ctl") + ".$$$");
      EXPECT_EQ(read_file(f.copy_name), r.copy);
    }
    if (!r.message.empty()) {
      EXPECT_NE(f.cap.console().find(r.message), std::string::npos) << f.cap.console();
    }
  }
}

TEST(DefaultiniPreprocess, EqualTextValuesAreReportedOnce) {
  struct row {
    const char* name;
    std::string control;
    bool warned;
  };
  const std::vector<row> rows = {
      {"equal texts", "$set $a = text\n$set $b = text\n", true},
      {"different texts", "$set $a = text\n$set $b = other\n", false},
      {"equal decimal numbers", "$set $a = 1.5\n$set $b = 1.5\n", false},
      {"equal exponent numbers", "$set $a = 1e3\n$set $b = 1e3\n", false},
      {"equal values holding nan", "$set $a = xnanx\n$set $b = xnanx\n", false},
      {"equal values holding Inf", "$set $a = Infy\n$set $b = Infy\n", false},
  };
  const std::string warning = "content of symbol $a is the same as symbol $b";
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    preprocess_fixture f(r.control);
    EXPECT_EQ(f.compile(), 0);
    const std::string console = f.cap.console();
    const size_t first = console.find(warning);
    EXPECT_EQ(first != std::string::npos, r.warned) << console;
    if (first != std::string::npos) {
      EXPECT_EQ(console.find(warning, first + 1), std::string::npos);
    }
  }
}

TEST(DefaultiniPreprocess, MissingControlFileIsCode28) {
  captured_diag cap;
  unsigned status = 99;
  defaultini settings(status, cap.diag.get(), cap.dir.file("absent.ctl"), nullptr, 0, 2, nullptr);
  std::string copy;
  int code = 0;
  try {
    settings.compile_symbols(cap.dir.file("absent.ctl"), copy);
  } catch (int c) {
    code = c;
  }
  EXPECT_EQ(code, 28);
  EXPECT_NE(cap.console().find("error opening " + cap.dir.file("absent.ctl")), std::string::npos);
}

namespace {

const std::string RULE = "\n-----------------------------------------------------------";

// The whole fatal entry of a symbol that cannot be resolved at line.
std::string unresolved_entry(const std::string& what, int line, const std::string& text) {
  return RULE + "\npossible error in control file!\n" + what + " at line " +
         std::to_string(line) + ":\n" + text + "\n" + RULE + "\n";
}

}  // namespace

TEST(DefaultiniPreprocess, SymbolsDefinedThroughThemselvesStopAtOnce) {
  // A value holding "$set" is kept as written, so symbols can be made to
  // refer to themselves; each row once took the 100000-substitution limit
  // (about a minute of CPU and a 500 KB entry) to stop.
  struct row {
    const char* name;
    std::string control;
    std::string entry;  // the whole FATAL entry without "FATAL: "
  };
  // Two doublings per level: 2^16 replacements for a line of $l16.
  std::string doubling = "$set $set = x\n$set $l0 = $set;$set\n";
  for (int k = 1; k <= 16; ++k)
    doubling += "$set $l" + std::to_string(k) + " = $l" + std::to_string(k - 1) + ";$l" +
                std::to_string(k - 1) + ";$set\n";
  doubling += "v $l16\n";
  const std::vector<row> rows = {
      {"a symbol whose value uses itself", "$set $loop = $loop;$set\n$loop\n",
       unresolved_entry("undefined symbol", 2, "$loop is defined through itself in:\n $loop\n")},
      {"two symbols in a circle", "$set $a = $b;$set\n$set $b = $a;$set\nv $a\n",
       unresolved_entry("undefined symbol", 3, "$a is defined through itself in:\n v $a\n")},
      // The first pass meets the circle in the value of a later definition.
      {"a circle met in a later definition", "$set $a = $a//$set\n$set $b = $a\n",
       unresolved_entry("undefined symbol", 2, "$a is defined through itself in:\n$a")},
      {"a circle behind a comment stays hidden", "$set $a = $a;$set\nv 1 # $a\n", ""},
      {"nesting without a circle beyond any real need", doubling,
       unresolved_entry("more symbols than one line can take", 19, " v $l16\n")},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    preprocess_fixture f(r.control);
    const auto start = std::chrono::steady_clock::now();
    const int code = f.compile();
    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 5.0);
    if (r.entry.empty()) {
      EXPECT_EQ(code, 0);
      EXPECT_EQ(read_file(f.copy_name), "v 1\n");
      continue;
    }
    EXPECT_EQ(code, 17);
    const std::string xml = f.cap.xml();
    EXPECT_NE(xml.find(diag_line(0, escape_diag_text(r.entry))), std::string::npos) << xml;
    // The entry is the size of the line, not of the runaway replacement.
    EXPECT_LT(xml.size(), 4000u);
  }
}

TEST(DefaultiniPreprocess, SymbolsNestedWithoutACircleResolve) {
  // A symbol named $set makes "$set" inside kept values resolvable; the
  // same symbol twice side by side, or inside another's value, is no circle.
  struct row {
    const char* name;
    std::string control;
    std::string copy;
  };
  const std::vector<row> rows = {
      {"a kept value resolved at use", "$set $set = s\n$set $b = $set//x\nv $b\n", "v sx\n"},
      {"one symbol twice inside another", "$set $set = s\n$set $b = $set;$set\nv $b\n",
       "v s;s\n"},
      {"a symbol beside its own value", "$set $a = 1\n$set $b = $a\nv $b $a $b\n", "v 1 1 1\n"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    preprocess_fixture f(r.control);
    ASSERT_EQ(f.compile(), 0) << f.cap.console();
    EXPECT_EQ(read_file(f.copy_name), r.copy);
  }
}

TEST(DefaultiniPreprocess, FileErrorsNameTheirReason) {
  struct row {
    const char* name;
    std::function<void(const scratch_dir&)> prepare;  // after run.ctl is written
    int code;
    std::string entry;  // {dir}: the scratch directory
  };
  const std::vector<row> rows = {
      {"no control file",
       [](const scratch_dir& d) { std::filesystem::remove(d.file("run.ctl")); }, 28,
       "error opening {dir}/run.ctl: " + std::string(std::strerror(ENOENT))},
      {"a folder as control file",
       [](const scratch_dir& d) {
         std::filesystem::remove(d.file("run.ctl"));
         std::filesystem::create_directory(d.file("run.ctl"));
       },
       19, "read error {dir}/run.ctl: " + std::string(std::strerror(EISDIR))},
      {"the copy's name is a folder",
       [](const scratch_dir& d) { std::filesystem::create_directory(d.file("run.ctl.$$$")); }, 28,
       "error opening {dir}/run.ctl.$$$: " + std::string(std::strerror(EISDIR))},
      {"a full disk under the copy",
       [](const scratch_dir& d) {
         std::filesystem::create_symlink("/dev/full", d.file("run.ctl.$$$"));
       },
       11, "error closing {dir}/run.ctl.$$$: " + std::string(std::strerror(ENOSPC))},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    preprocess_fixture f("a b\n");
    r.prepare(f.cap.dir);
    EXPECT_EQ(f.compile(), r.code);
    std::string entry = r.entry;
    entry.replace(entry.find("{dir}"), 5, f.cap.dir.path());
    const std::string xml = f.cap.xml();
    EXPECT_NE(xml.find(diag_line(0, escape_diag_text(entry))), std::string::npos) << xml;
  }
}
