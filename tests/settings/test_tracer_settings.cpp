// The tracer settings of "[substance_transport]": names cut to three
// lower-case characters, every item in any order, and the exact entry and
// code of each broken line. Expected values are the values written in the
// lines.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "settings/defltuzr_tracer.h"
#include "support/test_support.h"

namespace {

// A complete tracer line; the cases replace or drop parts of it.
std::string line(const std::string& name, const std::string& kind = "non_radioactive",
                 const std::string& evaporating = "evaporating",
                 const std::string& max_conc = "max_conc = 10 mg/l",
                 const std::string& tail =
                     "statcode = 2001 gridcode = 8 path = out/ statext = "
                     "sta gridext = asc") {
  return name + " " + kind + " " + evaporating + " min_conc = 0.25 " + max_conc +
         " soilini = 1.5 gwini = 2.5 " + tail;
}

struct tracer_run {
  explicit tracer_run(const std::string& section, bool with_file = true) {
    if (with_file) cap.dir.write("run.ctl", "[model_time]\n0\n" + section + "[next]\n");
    settings_context context;
    context.control_file = cap.dir.file("run.ctl");
    tracer_ini_class settings(status, cap.diag.get(), context, count, list);
    if (list != nullptr)
      for (int k = 1; k <= count; ++k) read.push_back(list[k]);
    settings.release();
  }
  // The console holds the entry text as a whole entry: at its start or
  // after the prefix that ends the entry before, and before the prefix that
  // ends it.
  bool has_entry(const std::string& text) const {
    const std::string console = cap.console();
    return console.starts_with(text + "\n(mpi-rank") ||
           console.find(") " + text + "\n(mpi-rank") != std::string::npos;
  }
  captured_diag cap;
  int status = -1;
  int count = -77;
  tracer_entry* list = nullptr;
  std::vector<tracer_entry> read;
};

TEST(TracerSettings, LinesGiveTheirTracers) {
  const std::string section = "[substance_transport]\n2  number of tracers\n" + line("Chloride") +
                              "\n" + line("Cl", "half_time = 30 d radioactive", "non_evaporating") +
                              "\n";
  tracer_run run(section);
  ASSERT_EQ(run.status, 0) << run.cap.console();
  ASSERT_EQ(run.count, 2);
  ASSERT_EQ(run.read.size(), 2U);
  const tracer_entry& chl = run.read[0];
  EXPECT_EQ(chl.name, "chl");
  EXPECT_EQ(chl.radioactive, 0);
  EXPECT_EQ(chl.half_time, -9999);
  EXPECT_EQ(chl.evaporating, 1);
  EXPECT_EQ(chl.min_conc, 0.25);
  EXPECT_EQ(chl.max_conc, 10);
  EXPECT_EQ(chl.soilini, 1.5);
  EXPECT_EQ(chl.gwini, 2.5);
  EXPECT_EQ(chl.decay_factor, 0);
  EXPECT_EQ(chl.statcode, 2001);
  EXPECT_EQ(chl.gridcode, 8);
  EXPECT_EQ(chl.path, "out/");
  EXPECT_EQ(chl.statext, "sta");
  EXPECT_EQ(chl.gridext, "asc");
  const tracer_entry& cl = run.read[1];
  EXPECT_EQ(cl.name, "cl_");
  EXPECT_EQ(cl.radioactive, 1);
  EXPECT_EQ(cl.half_time, 30);
  EXPECT_EQ(cl.evaporating, 0);
  EXPECT_TRUE(run.has_entry("reading parameters for tracer 2 ..."));
  EXPECT_TRUE(run.has_entry("done."));
}

TEST(TracerSettings, CountsAndOptionalParts) {
  struct row {
    std::string name;
    std::string section_body;  // after the section line
    int count;
    std::vector<std::string> names;
    std::vector<double> max_conc;
  };
  std::string eight;
  std::vector<std::string> eight_names;
  for (int k = 1; k <= 8; ++k) {
    eight += line("T0" + std::to_string(k)) + "\n";
    eight_names.push_back("t0" + std::to_string(k));
  }
  const std::vector<row> rows = {
      // "%i" reads 010 as octal: 8 tracers.
      {"count 010", "010\n" + eight, 8, eight_names, std::vector<double>(8, 10.0)},
      {"no tracer", "0\n", 0, {}, {}},
      {"negative count", "-2\n", -2, {}, {}},
      {"max_conc without unit at the end",
       "1\n" + line("so4", "non_radioactive", "evaporating",
                    "statcode = 1 gridcode = 0 path = "
                    "p/ statext = s gridext = g",
                    "max_conc = 7"),
       1,
       {"so4"},
       {7}},
      {"max_conc without unit before the next item",
       "1\n" + line("so4", "non_radioactive", "evaporating", "max_conc = 7"),
       1,
       {"so4"},
       {7}},
      {"units g/l and Kg/Kg",
       "2\n" + line("a", "non_radioactive", "evaporating", "max_conc = 3 g/l") + "\n" +
           line("b", "non_radioactive", "evaporating", "max_conc = 4 Kg/Kg"),
       2,
       {"a__", "b__"},
       {3, 4}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    tracer_run run("[substance_transport]\n" + r.section_body + "\n");
    ASSERT_EQ(run.status, 0) << run.cap.console();
    EXPECT_EQ(run.count, r.count);
    EXPECT_EQ(run.list == nullptr, r.count <= 0);
    std::vector<std::string> names;
    std::vector<double> max_conc;
    for (const tracer_entry& t : run.read) {
      names.push_back(t.name);
      max_conc.push_back(t.max_conc);
    }
    EXPECT_EQ(names, r.names);
    EXPECT_EQ(max_conc, r.max_conc);
  }
}

TEST(TracerSettings, BrokenSectionsStopWithTheirEntry) {
  struct row {
    std::string name;
    std::string section;
    int code;
    std::string entry;
  };
  std::string ten;
  for (int k = 0; k < 10; ++k) ten += line("x" + std::to_string(k)) + "\n";
  const std::string tail_no_path = "statcode = 1 gridcode = 0 statext = s gridext = g";
  const std::vector<row> rows = {
      {"ten tracers", "[substance_transport]\n10\n" + ten, 58,
       "not more than 9 tracer species are allowed at one time (they need a very lot of "
       "memory!)"},
      {"same first three characters",
       "[substance_transport]\n2\n" + line("NO3") + "\n" + line("no3x") + "\n", 59,
       "\n----------- ERROR in substance_transport ---------\n\nsubstance #2 and substance #1 "
       "have the same\nfirst 3 chars (lowercase) in its name (no3 <-> no3)\n\n"
       "--------------------------------------------------\n"},
      {"no kind of decay", "[substance_transport]\n1\n" + line("a", "") + "\n", 56,
       "error reading parameters for tracer 1:\n need a key word \"radioactive\" or "
       "\"non_radioactive\"\n(may be, the number of tracers (1) is wrong?\n"},
      {"fewer lines than the count", "[substance_transport]\n2\n" + line("a") + "\n", 56,
       "error reading parameters for tracer 2:\n need a key word \"radioactive\" or "
       "\"non_radioactive\"\n(may be, the number of tracers (2) is wrong?\n"},
      {"half-life in days",
       "[substance_transport]\n1\n" + line("a", "radioactive half_time = 30 days") + "\n", 56,
       "error reading half_time for tracer 1: no \"d\" for measure found!"},
      {"half-life 0",
       "[substance_transport]\n1\n" + line("a", "radioactive half_time = 0 d") + "\n", 56,
       "error in half_time for tracer 1: must be greater than 0!"},
      {"half-life without unit",
       "[substance_transport]\n1\n" +
           line("a", "radioactive", "evaporating", "max_conc = 1",
                tail_no_path + " path = p "
                               "half_time = 5") +
           "\n",
       56, "error reading half_time for tracer 1"},
      {"half-life missing", "[substance_transport]\n1\n" + line("a", "radioactive") + "\n", 56,
       "error in tracer_info_table tracer 1: need a \"half_time = xxxx d\" sequence!"},
      {"half-life without equals sign",
       "[substance_transport]\n1\n" + line("a", "radioactive") + " half_time 5 d\n", 56,
       "error reading half_time for tracer 1: no \"half_time =\" found!"},
      {"no evaporation word",
       "[substance_transport]\n1\n" + line("a", "non_radioactive", "") + "\n", 56,
       "error reading parameters for tracer 1:\n need a key word \"evaporating\" or "
       "\"non_evaporating\"\n(may be, the number of tracers (1) is wrong?"},
      {"unit mol/l",
       "[substance_transport]\n1\n" +
           line("a", "non_radioactive", "evaporating", "max_conc = 3 mol/l") + "\n",
       56,
       "error reading max_conc for tracer 1:\nwrong measure (only mg/l, g/l or kg/kg resp. no "
       "measure are allowed!)\nread here: mol/l"},
      {"max_conc without a number",
       "[substance_transport]\n1\n" + line("a", "non_radioactive", "evaporating", "max_conc = ") +
           "\n",
       56, "error reading max_conc for tracer 1"},
      {"min_conc missing",
       "[substance_transport]\n1\na non_radioactive evaporating "
       "max_conc = 1 soilini = 0 gwini = 0 statcode = 1 gridcode = 0 path = p statext = s "
       "gridext = g\n",
       56,
       "error reading parameters for tracer 1:\nneed a key word "
       "\"min_conc = xxxx\""},
      {"gwini not a number",
       "[substance_transport]\n1\na non_radioactive evaporating "
       "min_conc = 0 max_conc = 1 soilini = 0 gwini = none statcode = 1 gridcode = 0 path = p "
       "statext = s gridext = g\n",
       56, "error reading gwini for tracer 1!"},
      {"statcode without blank",
       "[substance_transport]\n1\n" +
           line("a", "non_radioactive", "evaporating", "max_conc = 1",
                "statcode=2 gridcode = 8 path = p statext = s gridext = g") +
           "\n",
       56, "error reading statcode for tracer 1:\nneed a key word \"statcode = xxxx\""},
      {"gridcode not a number",
       "[substance_transport]\n1\n" +
           line("a", "non_radioactive", "evaporating", "max_conc = 1",
                "statcode = 2 gridcode = x path = p statext = s gridext = g") +
           "\n",
       56, "error reading gridcode for tracer 1!"},
      {"path without a word",
       "[substance_transport]\n1\n" +
           line("a", "non_radioactive", "evaporating", "max_conc = 1", tail_no_path + " path =") +
           "\n",
       56, "error reading path for tracer 1!"},
      {"count not a number", "[substance_transport]\nmany\n", 17,
       "error in control file,  number of tracers in ; tracer_ininot found!"},
      {"missing section", "", 17, "error in control file, [substance_transport]; (EOF)not found!"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    tracer_run run(r.section);
    EXPECT_EQ(run.status, r.code);
    EXPECT_TRUE(run.has_entry(r.entry)) << run.cap.console();
    // A failed reading hands nothing out.
    EXPECT_EQ(run.count, -77);
    EXPECT_EQ(run.list, nullptr);
  }

  tracer_run missing("", false);
  EXPECT_EQ(missing.status, 28);
  EXPECT_TRUE(missing.has_entry("error opening " + missing.cap.dir.file("run.ctl") + ": " +
                                std::strerror(ENOENT)));
}

}  // namespace
