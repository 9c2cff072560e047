// External coupling of the settings object on one process: the kernels of
// an exchange, the reading of "[ExternalCoupling]" with the exact entry and
// code of every broken section, the look-up of the named grids and
// statistics, reading the partner's grids, and the grids and statistics of
// two output exchanges after several steps.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "modelbase/gridstore.h"
#include "settings/defltuzr.h"
#include "settings/external_coupling_kernels.h"
#include "support/diag_xml.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

// Zones 1 and 2 of 3 and 5 cells; row 1 is north, cell (1, 1) lies outside.
const char* const ZONE_ROWS = "-9999 1 1\n1 2 2\n2 2 2\n";

std::string text_grid(const std::string& rows) {
  return "ncols 3\nnrows 3\nxllcorner 0\nyllcorner 0\ncellsize 100\nnodata_value -9999\n" + rows;
}

// The nine values of a text grid written by the model, row by row.
std::vector<double> grid_values(const std::string& text) {
  std::istringstream in(text);
  std::string word;
  for (int i = 0; i < 12; ++i) in >> word;  // six header lines of two words
  std::vector<double> values;
  double v = 0;
  while (in >> v) values.push_back(v);
  return values;
}

std::string control_file(const std::string& coupling, const std::string& standard_grids) {
  return "[output_interval]\n1\n0\n0\n0\nWriteAsciiGrids = 1\nDefaultOutputDirectory = $dir//\n"
         "\n[output_list]\n0\n[coordinates]\n47\n8\n15\n0\n[meteo_data_count]\n0\n"
         "[meteo_names]\n[zone_grid]\n$dir//zones.asc\n[elevation_model]\n$dir//dem.asc\n"
         "[standard_grids]\n" +
         standard_grids +
         "[model_time]\n0\n1\n1\n2001\n23\n31\n12\n2001\n"
         "[variable_grids]\n0\n[region_transition_distance]\n1000\n"
         "[soil_surface_groundwater_substeps]\n1\n[SpinUp]\n0\n[substance_transport]\n0\n"
         "[landuse_table]\n0\n[soil_table]\n0\n[irrigation]\n0\n[radiation_correction]\n0\n" +
         coupling;
}

// moisture (every cell 4, with a statistics file of every zone) and gw
// (not read: 2 in the zones).
const std::string GRIDS =
    "2\n$dir//soil.asc moisture fillcode = 0 statfile = soil.sta statcode = 2001\n"
    "none.asc gw fillcode = 0 readcode = 0 defaultValue = 2.0\n";

// The staged set-up in a scratch working directory ($dir in the control
// file stands for it).
struct coupling_case {
  explicit coupling_case(const std::string& coupling, const std::string& standard_grids = GRIDS) {
    cap.dir.write("MpiSpeedFactor.dat", "1\n");
    cap.dir.write("zones.asc", text_grid(ZONE_ROWS));
    cap.dir.write("dem.asc", text_grid("1 2 3\n4 5 6\n7 8 9\n"));
    cap.dir.write("soil.asc", text_grid("4 4 4\n4 4 4\n4 4 4\n"));
    cap.dir.write("run.ctl",
                  "$set $dir = " + cap.dir.path() + "/\n" + control_file(coupling, standard_grids));
    char cwd[4096] = {};
    if (getcwd(cwd, sizeof cwd) != nullptr) old_dir = cwd;
    EXPECT_EQ(chdir(cap.dir.path().c_str()), 0);
    settings = std::make_unique<defaultini>(status, cap.diag.get(), cap.dir.file("run.ctl"),
                                            &registry, 200, 2, &store);
    bool done = false;
    try {
      for (int calls = 0; !done && calls < 100; ++calls) settings->init_step(done);
      settings->setup_zonal_statistics();
    } catch (int c) {
      code = c;
    }
  }
  ~coupling_case() {
    settings->release();
    if (!old_dir.empty()) { EXPECT_EQ(chdir(old_dir.c_str()), 0); }
  }
  // Whether the diagnostics file holds this entry at this level; closes the
  // stream.
  bool entry(int level, const std::string& text) {
    return cap.xml().find(diag_line(level, escape_diag_text(text))) != std::string::npos;
  }
  int resolve() {
    try {
      settings->resolve_coupling_names(&registry, 200);
    } catch (int c) {
      return c;
    }
    return 0;
  }
  grid_matrix& grid(const std::string& name) { return *store[settings->find_grid(name)].grid; }
  void set_all(const std::string& name, double value) {
    grid_matrix& g = grid(name);
    for (int r = 1; r <= 3; ++r)
      for (int c = 1; c <= 3; ++c) g[r][c] = value;
  }
  // The statistics of the settings grids for one step.
  void complete_step(int64_t day) {
    settings->clear_grid_statistics();
    settings->add_grid_statistics();
    settings->complete_grid_statistics(0, day, 1, 2001);
  }
  std::string read(const std::string& name) const { return read_file(cap.dir.file(name)); }

  captured_diag cap;
  std::string old_dir;
  grid_store store;
  statistics_registry registry;
  unsigned status = 99;
  std::unique_ptr<defaultini> settings;
  int code = 0;
};

const std::string REASON =
    "\npossible reason: parameter missing or a linefeed \nbefore the end of the parameter block";

}  // namespace

// ---- kernels ----

TEST(CouplingKernels, WriteCodes) {
  const std::vector<std::pair<std::string, coupling_code>> rows = {
      {"Sum", coupling_code::sum},
      {"Mean", coupling_code::mean},
      {"SumTotal", coupling_code::sum_total},
      {"SumTotal_DMY", coupling_code::sum_total},
      {"sum", coupling_code::current},
      {"Sum_D", coupling_code::current},
      {"Meanx", coupling_code::current},
      {"current", coupling_code::current}};
  for (const auto& [code, kind] : rows) {
    EXPECT_EQ(classify_coupling_code(code), kind) << code;
    EXPECT_EQ(coupling_code_accumulates(code), kind != coupling_code::current) << code;
  }
}

TEST(CouplingKernels, EndOfPeriodCopiesOfARunningTotal) {
  struct row {
    std::string code;
    bool day, month, year;
    std::vector<std::string> names;
  };
  // Last input exchange 31 January 2005.
  const std::string d = "out/SumTotal_EndOf_Day_2005_01_31_gw.asc";
  const std::string m = "out/SumTotal_EndOf_Month_2005_01_gw.asc";
  const std::string y = "out/SumTotal_EndOf_Year_2005_gw.asc";
  const std::vector<row> rows = {
      {"SumTotal_DM", true, true, false, {d, m}},  // end of a month: no year copy
      {"SumTotal_DM", true, true, true, {d, m}},   // DM never has one
      {"SumTotal_DMY", true, true, true, {d, m, y}},
      {"SumTotal_DMY", true, false, false, {d}},
      {"SumTotal_MY", true, true, true, {m, y}},
      {"SumTotal_Y", true, true, true, {y}},
      {"SumTotal_D", false, true, true, {}},
      {"SumTotal", true, true, true, {}},
      {"Sum", true, true, true, {}},
  };
  for (const row& r : rows)
    EXPECT_EQ(
        coupling_end_of_period_names("out/gw.asc", r.code, 31, 1, 2005, r.day, r.month, r.year),
        r.names)
        << r.code << r.day << r.month << r.year;
  EXPECT_EQ(
      coupling_end_of_period_names("a\\b\\gw.asc", "SumTotal_Y", 1, 1, 2005, false, false, true),
      std::vector<std::string>{"a\\b\\SumTotal_EndOf_Year_2005_gw.asc"});
  EXPECT_EQ(coupling_end_of_period_names("gw.asc", "SumTotal_D", 2, 3, 2005, true, false, false),
            std::vector<std::string>{"SumTotal_EndOf_Day_2005_03_02_gw.asc"});
}

TEST(CouplingKernels, RenamedInputGrid) {
  // 1 July 2005, 12 h, 4711 clock ticks.
  EXPECT_EQ(coupling_renamed_name("gw.asc", 2005, 7, 1, 12, 4711), "gw.asc_2005_07_01_12_4711");
}

TEST(CouplingKernels, RegistryRecordsAreFoundByPartOfTheirName) {
  statistics_registry registry;
  std::vector<double> values(3, 0.0);
  const std::vector<std::string> names = {"snow_submodel:melt", "soil water_submodel:(default)", "",
                                          "gw_submodel:recharge"};
  for (size_t i = 0; i < names.size(); ++i) {
    registry.records[i].entity_name = &names[i];
    registry.records[i].values = values.data();
  }
  registry.records[2].values = nullptr;                             // a free record ends the search
  EXPECT_EQ(find_coupling_record(registry, 200, "soil_water"), 1);  // blank read as '_'
  EXPECT_EQ(find_coupling_record(registry, 200, "melt"), 0);
  EXPECT_EQ(find_coupling_record(registry, 200, "Melt"), -1);  // case counts
  EXPECT_EQ(find_coupling_record(registry, 200, "recharge"), -1);
  EXPECT_EQ(find_coupling_record(registry, 1, "soil_water"), -1);  // beyond the size
}

TEST(CouplingKernels, StatisticFileByWriteCode) {
  struct row {
    coupling_code code;
    std::string lines;        // after the name line
    double second1, second2;  // the second array afterwards
  };
  // Zones 3 and 7 with the step values 2 and 4 and the sums 6 and 8 of three
  // earlier steps: sums 8 and 12, means over 4 steps 2 and 3.
  const std::vector<row> rows = {
      {coupling_code::sum, "3\t8\n7\t12\n", 0, 0},
      {coupling_code::mean, "3\t2\n7\t3\n", 0, 0},
      {coupling_code::sum_total, "3\t8\n7\t12\n", 8, 12},
      {coupling_code::current, "3\t2\n7\t4\n", 6, 8},
  };
  for (const row& r : rows) {
    std::vector<double> values = {0, 2, 4, 9};
    std::vector<double> sums = {0, 6, 8};
    std::vector<int> codes = {0, 3, 7, 0};
    statistics_record record;
    record.value_count = 3;
    record.values = values.data();
    record.codes = codes.data();
    EXPECT_EQ(coupling_statistic_text("soil", record, sums, r.code, 4),
              "soil; 2 zones\n" + r.lines);
    EXPECT_EQ(sums[1], r.second1);
    EXPECT_EQ(sums[2], r.second2);
  }
  std::vector<double> values = {0, 1.0 / 3, 0};
  std::vector<double> sums = {0, 0};
  std::vector<int> codes = {0, 5, 0};
  statistics_record record;
  record.value_count = 2;
  record.values = values.data();
  record.codes = codes.data();
  const std::string long_name(101, 'n');
  // Six significant digits; a name of 101 characters is cut to 100.
  EXPECT_EQ(coupling_statistic_text(long_name, record, sums, coupling_code::current, 1),
            std::string(100, 'n') + "...; 1 Gebiete\n5\t0.333333\n");
  coupling_accumulate_record(record, sums);
  coupling_accumulate_record(record, sums);
  EXPECT_DOUBLE_EQ(sums[1], 2.0 / 3);
}

TEST(CouplingKernels, AccumulatorsCoverTheZoneCellsOnly) {
  memory_handling alloc;
  grid_matrix zones = alloc.matrix(1, 2, 1, 2, 2);
  grid_matrix grid = alloc.matrix(1, 2, 1, 2, 2);
  grid_matrix acc = alloc.matrix(1, 2, 1, 2, 2);
  const double zone_values[] = {-9999, 1, 2, 2};
  const double grid_values_[] = {5, 1, 2, 3};
  for (int k = 0; k < 4; ++k) {
    zones[k / 2 + 1][k % 2 + 1] = zone_values[k];
    grid[k / 2 + 1][k % 2 + 1] = grid_values_[k];
  }
  const coupling_grid_span span{2, 2, -9999};
  coupling_add(acc, grid, zones, span);
  coupling_add(acc, grid, zones, span);
  EXPECT_EQ(acc[1][1], -9999);
  EXPECT_EQ(acc[1][2], 2);
  EXPECT_EQ(acc[2][2], 6);
  // (2 + 1) / 3 and (6 + 3) / 3 over three steps.
  coupling_mean(acc, grid, zones, span, 3);
  EXPECT_EQ(acc[1][1], -9999);
  EXPECT_EQ(acc[1][2], 1);
  EXPECT_EQ(acc[2][2], 3);
  coupling_reset(acc, zones, span);
  EXPECT_EQ(acc[1][1], -9999);
  EXPECT_EQ(acc[2][1], 0);
}

// ---- settings ----

TEST(CouplingSettings, SectionIsReadIntoTheAccessors) {
  coupling_case run(
      "[ExternalCoupling]\n1\npartner.sem\n250\nD\n60\n"
      "2\nin.asc GWTableExtern 0 1\nrch.asc gw 1 2\n"
      "1\nout.asc moisture Mean\n1\nstat.txt moisture Sum\nvelmo.sem\ndone\n");
  ASSERT_EQ(run.code, 0) << run.cap.console();
  defaultini& s = *run.settings;
  EXPECT_TRUE(s.coupling_active());
  EXPECT_EQ(s.get_semaphore_file(), "partner.sem");
  EXPECT_EQ(s.get_wait_interval(), 250);
  EXPECT_EQ(s.get_coupling_interval(), 'D');
  EXPECT_EQ(s.get_external_time_step(), 60);
  EXPECT_TRUE(s.has_external_gw_table());
  EXPECT_EQ(s.get_semaphore_target_file(), "velmo.sem");
  EXPECT_EQ(s.get_semaphore_content(), "done");
}

TEST(CouplingSettings, OffOrReadOnly) {
  struct row {
    std::string section;
    bool active;
  };
  // Mode 0 reads nothing more (what follows may be anything); mode 2 reads
  // the section without coupling; no section at all is off.
  const std::vector<row> rows = {
      {"", false},
      {"[ExternalCoupling]\n0\nwhatever\n", false},
      {"[ExternalCoupling]\n2\np.sem\n100\nI\n60\n0\n0\n0\nv.sem\nx\n", false},
      {"[ExternalCoupling]\n1\np.sem\n100\nI\n60\n0\n0\n0\nv.sem\nx\n", true},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.section);
    coupling_case run(r.section);
    ASSERT_EQ(run.code, 0) << run.cap.console();
    EXPECT_EQ(run.settings->coupling_active(), r.active);
    EXPECT_FALSE(run.settings->has_external_gw_table());
  }
}

TEST(CouplingSettings, BrokenSectionsGiveTheirEntryAndCode) {
  struct row {
    const char* name;
    std::string section;
    int code;
    std::string entry;
  };
  const std::string head = "[ExternalCoupling]\n1\np.sem\n100\n";
  const std::string error = "-----------------error------------\n";
  const std::vector<row> rows = {
      {"lower-case letter", head + "d\n60\n0\n0\n0\nv.sem\nx\n", 10,
       error + "error reading Coupling Mode (I, H, D, M or Y) for external gw table grid defaults" +
           REASON},
      {"letter on a later line", head + "\nI\n60\n0\n0\n0\nv.sem\nx\n", 10,
       error + "error reading Coupling Mode (I, H, D, M or Y) for external gw table grid defaults" +
           REASON},
      {"input grid without a number", head + "I\n60\n1\nin.asc gw x 1\n0\n0\nv.sem\nx\n", 10,
       error + "error reading external (read) grid name/entity/fill code/rename code defaults" +
           REASON},
      {"output grid without a write code", head + "I\n60\n0\n1\nout.asc gw\n", 10,
       error + "error reading external (write) grid name/entity/Writecodedefaults" + REASON},
      {"statistic without a write code", head + "I\n60\n0\n0\n1\nstat.txt soil\n", 10,
       error + "error reading external (write) Statfile name/entity/writecodedefaults" + REASON},
      {"wait interval no number", "[ExternalCoupling]\n1\np.sem\nsoon\nI\n", 17,
       "error in control file, wait interval for scanning for external grids ; defaultsnot "
       "found!"},
      {"missing content", head + "I\n60\n0\n0\n0\nv.sem\n", 17,
       "error in control file, semaphore Content for informing the external model ; defaultsnot "
       "found!"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    coupling_case run(r.section);
    EXPECT_EQ(run.code, r.code);
    EXPECT_TRUE(run.entry(0, r.entry)) << run.cap.console();
  }
}

TEST(CouplingSettings, NamesThatAreNoGridOrStatistic) {
  struct row {
    const char* name;
    std::string lists;  // input, output and statistics lists
    int code;
    std::string entry;
  };
  const std::string reason =
      "\"\npossible reason: internal name of the grid is wrong (case sensitive!)";
  const std::vector<row> rows = {
      {"input grid", "1\nin.asc Moisture 0 1\n0\n0\n", 1003,
       "-----------------error------------\nerror looking for internal grid to read from in.asc, "
       "with internal name \"Moisture" +
           reason},
      {"output grid", "0\n1\nout.asc gwx Sum\n0\n", 1004,
       "-----------------error------------\nerror looking for internal grid to write to out.asc "
       "with internal name \"gwx" +
           reason},
      {"statistic", "0\n0\n1\nstat.txt moistur3 Sum\n", 1005,
       "-----------------error------------\nerror looking for zonal statistic with internal "
       "name \"moistur3\"\npossible reason: name of the statistic entity is wrong (case "
       "sensitive!)"},
      {"all found", "1\nin.asc moisture 0 1\n1\nout.asc gw Sum\n1\nstat.txt moistur Sum\n", 0, ""},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    coupling_case run("[ExternalCoupling]\n1\np.sem\n100\nI\n60\n" + r.lists + "v.sem\nx\n");
    ASSERT_EQ(run.code, 0) << run.cap.console();
    EXPECT_EQ(run.resolve(), r.code);
    if (!r.entry.empty()) { EXPECT_TRUE(run.entry(0, r.entry)) << run.cap.console(); }
  }
}

TEST(CouplingSettings, StatisticsAreCopiedOverTheFirstRecordsInSectionOrder) {
  // Registered in grid order: moisture (record 0), then gw (record 1). The
  // section names gw first, then "submodel", which both entity names hold:
  // the search sees the records as registered, so it finds moisture, although
  // gw has meanwhile been copied over record 0.
  coupling_case run(
      "[ExternalCoupling]\n1\np.sem\n100\nI\n60\n0\n0\n2\na.txt gw Sum\nb.txt submodel Sum\n"
      "v.sem\nx\n",
      "2\n$dir//soil.asc moisture fillcode = 0 statfile = soil.sta statcode = 2001\n"
      "none.asc gw fillcode = 0 readcode = 0 defaultValue = 2.0 statfile = gw.sta statcode = "
      "2001\n");
  ASSERT_EQ(run.code, 0) << run.cap.console();
  const statistics_record moisture = run.registry.records[0];
  const statistics_record gw = run.registry.records[1];
  ASSERT_NE(moisture.entity_name, nullptr);
  ASSERT_NE(gw.entity_name, nullptr);
  ASSERT_EQ(*gw.entity_name, "gw_submodel:(default)");
  ASSERT_NE(moisture.entity_name->find("submodel"), std::string::npos);
  ASSERT_EQ(run.resolve(), 0) << run.cap.console();
  EXPECT_EQ(run.registry.records[0].entity_name, gw.entity_name);
  EXPECT_EQ(run.registry.records[0].values, gw.values);
  EXPECT_EQ(run.registry.records[1].entity_name, moisture.entity_name);
  EXPECT_EQ(run.registry.records[1].values, moisture.values);
  EXPECT_EQ(run.registry.records[1].second, moisture.second);
}

TEST(CouplingSettings, AStatisticListedBeforeTheOneItOverwritesIsStillFound) {
  // gw is registered second but listed first: its copy overwrites record 0
  // (moisture) before moisture is looked up.
  coupling_case run(
      "[ExternalCoupling]\n1\np.sem\n100\nI\n60\n0\n0\n2\na.txt gw Sum\nb.txt moisture Sum\n"
      "v.sem\nx\n",
      "2\n$dir//soil.asc moisture fillcode = 0 statfile = soil.sta statcode = 2001\n"
      "none.asc gw fillcode = 0 readcode = 0 defaultValue = 2.0 statfile = gw.sta statcode = "
      "2001\n");
  ASSERT_EQ(run.code, 0) << run.cap.console();
  const statistics_record moisture = run.registry.records[0];
  ASSERT_EQ(run.resolve(), 0) << run.cap.console();
  EXPECT_EQ(run.registry.records[1].entity_name, moisture.entity_name);
  EXPECT_EQ(run.registry.records[1].values, moisture.values);
}

// ---- exchanges ----

TEST(CouplingExchange, PartnerGridsAreReadAndTheirFilesRenamedDeletedOrKept) {
  coupling_case run(
      "[ExternalCoupling]\n1\npartner.sem\n100\nI\n60\n"
      "3\next.asc moisture 0 1\next0.asc gw 0 0\next2.asc gw 0 2\n0\n0\nv.sem\nx\n");
  ASSERT_EQ(run.code, 0) << run.cap.console();
  ASSERT_EQ(run.resolve(), 0) << run.cap.console();
  run.cap.dir.write("ext.asc", text_grid("7 7 7\n7 7 7\n7 7 7\n"));
  run.cap.dir.write("ext0.asc", text_grid("8 8 8\n8 8 8\n8 8 8\n"));
  run.cap.dir.write("ext2.asc", text_grid("9 9 9\n9 9 9\n9 9 9\n"));
  run.cap.dir.write("partner.sem", "go");
  run.settings->read_coupling_input(2005, 7, 1, 12);
  EXPECT_EQ(run.grid("moisture")[2][2], 7);
  EXPECT_EQ(run.grid("gw")[3][3], 9);  // the last grid read of the same name
  int renamed = 0;
  for (const auto& item : fs::directory_iterator(run.cap.dir.path())) {
    const std::string name = item.path().filename().string();
    if (name.starts_with("ext.asc_2005_07_01_12_") &&
        name.find_first_not_of("0123456789", 22) == std::string::npos)
      ++renamed;
  }
  EXPECT_EQ(renamed, 1);
  EXPECT_FALSE(fs::exists(run.cap.dir.file("ext.asc")));
  EXPECT_FALSE(fs::exists(run.cap.dir.file("ext0.asc")));
  EXPECT_TRUE(fs::exists(run.cap.dir.file("ext2.asc")));
  EXPECT_FALSE(fs::exists(run.cap.dir.file("partner.sem")));
}

TEST(CouplingExchange, MissingPartnerFilesAre1001) {
  struct row {
    const char* name;
    bool grid_there;
    std::string entry;
  };
  const std::vector<row> rows = {
      {"no semaphore", true,
       "error deleting semaphore file partner.sem: " + std::string(std::strerror(ENOENT))},
      {"no grid", false, "error reading external grid ext.asc"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    coupling_case run(
        "[ExternalCoupling]\n1\npartner.sem\n100\nI\n60\n1\next.asc moisture 0 2\n0\n0\n"
        "v.sem\nx\n");
    ASSERT_EQ(run.code, 0) << run.cap.console();
    ASSERT_EQ(run.resolve(), 0) << run.cap.console();
    if (r.grid_there) run.cap.dir.write("ext.asc", text_grid("7 7 7\n7 7 7\n7 7 7\n"));
    try {
      run.settings->read_coupling_input(2005, 7, 1, 12);
      ADD_FAILURE() << "no exception";
    } catch (int code) {
      EXPECT_EQ(code, 1001);
    }
    EXPECT_TRUE(run.entry(0, r.entry)) << run.cap.console();
  }
}

TEST(CouplingExchange, GridsAndStatisticsOfTwoOutputExchanges) {
  coupling_case run(
      "[ExternalCoupling]\n1\np.sem\n100\nD\n60\n0\n"
      "4\nmean.asc moisture Mean\nsum.asc moisture Sum\ntotal.asc moisture SumTotal_DM\n"
      "now.asc moisture value\n"
      "4\nsum.txt moisture Sum\nmean.txt moisture Mean\ntotal.txt moisture SumTotal\n"
      "now.txt moisture current\nv.sem\nx\n");
  ASSERT_EQ(run.code, 0) << run.cap.console();
  ASSERT_EQ(run.resolve(), 0) << run.cap.console();
  // Steps 1 to 3 are accumulated, step 4 is an output exchange at the end of
  // a day and month (31 January), step 5 the next exchange without a period
  // end. Every cell holds the step number, so every zone mean does too.
  for (int step = 1; step <= 3; ++step) {
    run.set_all("moisture", step);
    run.complete_step(step);
    run.settings->accumulate_coupling_output();
  }
  run.set_all("moisture", 4);
  run.complete_step(4);
  run.settings->write_coupling_output(31, 1, 2001, true, true, false);

  const double x = -9999;
  auto zones_with = [x](double v) { return std::vector<double>{x, v, v, v, v, v, v, v, v}; };
  // Mean (1 + 2 + 3 + 4) / 4, Sum 10, running total of the exchange steps 4.
  EXPECT_EQ(grid_values(run.read("mean.asc")), zones_with(2.5));
  EXPECT_EQ(grid_values(run.read("sum.asc")), zones_with(10));
  EXPECT_EQ(grid_values(run.read("total.asc")), zones_with(4));
  EXPECT_EQ(grid_values(run.read("SumTotal_EndOf_Day_2001_01_31_total.asc")), zones_with(4));
  EXPECT_EQ(grid_values(run.read("SumTotal_EndOf_Month_2001_01_total.asc")), zones_with(4));
  EXPECT_FALSE(fs::exists(run.cap.dir.file("SumTotal_EndOf_Year_2001_total.asc")));
  // Any other code writes the grid itself, the cell outside the zones too.
  EXPECT_EQ(grid_values(run.read("now.asc")), std::vector<double>(9, 4));
  // Statistics: Sum and running total of every step 10, Mean 2.5, current 4.
  EXPECT_EQ(run.read("sum.txt"), "moisture; 2 zones\n1\t10\n2\t10\n");
  EXPECT_EQ(run.read("mean.txt"), "moisture; 2 zones\n1\t2.5\n2\t2.5\n");
  EXPECT_EQ(run.read("total.txt"), "moisture; 2 zones\n1\t10\n2\t10\n");
  EXPECT_EQ(run.read("now.txt"), "moisture; 2 zones\n1\t4\n2\t4\n");

  fs::remove(run.cap.dir.file("SumTotal_EndOf_Day_2001_01_31_total.asc"));
  run.set_all("moisture", 5);
  run.complete_step(5);
  run.settings->write_coupling_output(1, 2, 2001, false, false, false);
  // One step since the last exchange: Mean and Sum 5; the grid total 4 + 5;
  // the statistic total 10 + 5.
  EXPECT_EQ(grid_values(run.read("mean.asc")), zones_with(5));
  EXPECT_EQ(grid_values(run.read("sum.asc")), zones_with(5));
  EXPECT_EQ(grid_values(run.read("total.asc")), zones_with(9));
  EXPECT_FALSE(fs::exists(run.cap.dir.file("SumTotal_EndOf_Day_2001_01_31_total.asc")));
  EXPECT_EQ(run.read("sum.txt"), "moisture; 2 zones\n1\t5\n2\t5\n");
  EXPECT_EQ(run.read("mean.txt"), "moisture; 2 zones\n1\t5\n2\t5\n");
  EXPECT_EQ(run.read("total.txt"), "moisture; 2 zones\n1\t15\n2\t15\n");
}

TEST(CouplingExchange, StatisticThatCannotBeWrittenIsSkippedButKeepsItsSums) {
  coupling_case run(
      "[ExternalCoupling]\n1\np.sem\n100\nI\n60\n0\n0\n"
      "1\nsub/sum.txt moisture Sum\nv.sem\nx\n");
  ASSERT_EQ(run.code, 0) << run.cap.console();
  ASSERT_EQ(run.resolve(), 0) << run.cap.console();
  run.set_all("moisture", 1);
  run.complete_step(1);
  run.settings->accumulate_coupling_output();
  run.complete_step(2);
  run.settings->write_coupling_output(2, 1, 2001, false, false, false);  // no folder "sub"
  EXPECT_FALSE(fs::exists(run.cap.dir.file("sub/sum.txt")));
  fs::create_directory(run.cap.dir.file("sub"));
  run.complete_step(3);
  run.settings->write_coupling_output(3, 1, 2001, false, false, false);
  // Only the step since the skipped exchange: 1, not 1 + 1 + 1.
  EXPECT_EQ(run.read("sub/sum.txt"), "moisture; 2 zones\n1\t1\n2\t1\n");
}
