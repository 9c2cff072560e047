// Set-up of small control files on one process: directories, the land-use
// layer name, the ice grid, statistics of the settings grids, and the exact
// entry and code of every broken file (never a crash).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "modelbase/gridstore.h"
#include "settings/defltuzr.h"
#include "support/test_support.h"

namespace {

// Zones 1 and 2 of 3 and 5 cells; row 1 is north.
const char* const ZONE_ROWS = "-9999 1 1\n1 2 2\n2 2 2\n";

std::string text_grid(const std::string& rows, int ncols = 3, int nrows = 3,
                      const std::string& cellsize = "100") {
  std::ostringstream s;
  s << "ncols " << ncols << "\nnrows " << nrows << "\nxllcorner 0\nyllcorner 0\ncellsize "
    << cellsize << "\nnodata_value -9999\n"
    << rows;
  return s.str();
}

const std::string UNIFORM = "4 4 4\n4 4 4\n4 4 4\n";

// A complete control file; the parts that the cases change are arguments.
std::string control_file(const std::string& keys, const std::string& standard_grids,
                         const std::string& model_time = "0\n1\n1\n2001\n23\n31\n12\n2001\n",
                         const std::string& zone = "$dir//zones.asc") {
  return "[output_interval]\n1\n0\n0\n0\n" + keys +
         "\n[output_list]\n0\n[coordinates]\n47\n8\n15\n0\n[meteo_data_count]\n0\n"
         "[meteo_names]\n[zone_grid]\n" + zone + "\n[elevation_model]\n$dir//dem.asc\n"
         "[standard_grids]\n" + standard_grids + "[model_time]\n" + model_time +
         // One land-use class, code 4 (the value of the one-layer land-use grid).
         "[landuse_table]\n1\n4 grass 0.2 50 50 50 50 50 50 50 50 50 50 50 50 "
         "1 120 240 366 1 2 3 4 0.1 0.1 0.1 0.1 1 1 1 1 1 2 3 4 1 3\n"
         "[soil_table]\n0\n[irrigation]\n0\n[radiation_correction]\n0\n"
         "[variable_grids]\n0\n[region_transition_distance]\n1000\n";
}

// Runs the staged set-up in a scratch directory holding the given files
// ($dir in them stands for the directory).
struct setup_case {
  explicit setup_case(const std::string& control,
                      const std::map<std::string, std::string>& files = {}) {
    cap.dir.write("MpiSpeedFactor.dat", "1\n");
    cap.dir.write("zones.asc", text_grid(ZONE_ROWS));
    cap.dir.write("dem.asc", text_grid("1 2 3\n4 5 6\n7 8 9\n"));
    for (const auto& [name, text] : files) {
      std::filesystem::create_directories(std::filesystem::path(cap.dir.file(name)).parent_path());
      cap.dir.write(name, text);
    }
    cap.dir.write("run.ctl", "$set $dir = " + cap.dir.path() + "/\n" + control);
    char cwd[4096] = {};
    if (getcwd(cwd, sizeof cwd) != nullptr) old_dir = cwd;
    EXPECT_EQ(chdir(cap.dir.path().c_str()), 0);
    settings = std::make_unique<defaultini>(status, cap.diag.get(), cap.dir.file("run.ctl"),
                                            &registry, 200, 2, &store);
    bool done = false;
    try {
      while (!done && calls < 100) {
        settings->init_step(done);
        ++calls;
      }
      settings->setup_zonal_statistics();
    } catch (int c) {
      code = c;
    }
  }
  ~setup_case() {
    settings->release();
    if (!old_dir.empty()) {
      EXPECT_EQ(chdir(old_dir.c_str()), 0);
    }
  }
  bool logged(const std::string& piece) const {
    return cap.console().find(piece) != std::string::npos;
  }
  captured_diag cap;
  std::string old_dir;
  grid_store store;
  statistics_registry registry;
  unsigned status = 99;
  std::unique_ptr<defaultini> settings;
  int calls = 0;
  int code = 0;
};

}  // namespace

TEST(DefaultiniSetupFiles, RelativeNamesUseTheInputDirectory) {
  // The zone grid is named without a directory. Its header must come from
  // the input directory like the grid itself: a header read from the working
  // directory (4 columns there) would not fit the grid (3 columns).
  setup_case run(control_file("InitialStateDirectory = $dir//in/\n", "0\n",
                              "0\n1\n1\n2001\n23\n31\n12\n2001\n", "zones.asc"),
                 {{"in/zones.asc", text_grid(ZONE_ROWS)},
                  {"zones.asc", text_grid("1 1 1 1\n1 1 1 1\n1 1 1 1\n", 4, 3)}});
  EXPECT_EQ(run.code, 0) << run.cap.console();
  const settings_context& exported = run.settings->export_settings();
  EXPECT_EQ(exported.ncols, 3);
  EXPECT_EQ(exported.zone_table.zone_count, 2);
}

TEST(DefaultiniSetupFiles, StatisticsOfAStandardGrid) {
  setup_case run(control_file("DefaultOutputDirectory = $dir//\n",
                              "1\n$dir//soil.asc soil_depth fillcode = 0 statfile = soil.sta "
                              "statcode = 2001\n"),
                 {{"soil.asc", text_grid(UNIFORM)}});
  ASSERT_EQ(run.code, 0) << run.cap.console();
  // Zone 1 holds 3 of 8 cells, zone 2 holds 5: shares 0.375 and 0.625.
  EXPECT_EQ(read_file(run.cap.dir.file("soil.sta")),
            "YY\tMM\tDD\tHH\t\"1\"\t\"2\"\ttot_average\n"
            "soil_depth_submodel:(default)\n"
            "--\t--\t--\t--\t0.3750000\t0.6250000\t1.0000\n");
  run.settings->clear_grid_statistics();
  run.settings->add_grid_statistics();
  run.settings->complete_grid_statistics(0, 1, 1, 2001);
  run.settings->flush_grid_statistics();
  // Every cell holds 4, so every zone mean and the total are 4.
  const std::string file = read_file(run.cap.dir.file("soil.sta"));
  EXPECT_NE(file.find("2001\t 1\t 1\t 0\t4.00000\t4.00000\t4.00000\n"), std::string::npos) << file;
}

TEST(DefaultiniSetupFiles, StatisticsFindTheZoneTheRankingGaveAFractionalCell) {
  // Zone values 0.6 and 1.4 are zone 1, 1.6 and 2.4 zone 2 (the nearest
  // whole number): 2 and 6 cells, shares 0.25 and 0.75. The grid holds 1 in
  // zone 1 and 2 in zone 2, so the zone means are exactly 1 and 2.
  setup_case run(control_file("DefaultOutputDirectory = $dir//\n",
                              "1\n$dir//soil.asc soil_depth fillcode = 0 statfile = soil.sta "
                              "statcode = 2001\n"),
                 {{"zones.asc", text_grid("-9999 0.6 1.4\n1.6 2 2\n2 2 2.4\n")},
                  {"soil.asc", text_grid("9 1 1\n2 2 2\n2 2 2\n")}});
  ASSERT_EQ(run.code, 0) << run.cap.console();
  run.settings->clear_grid_statistics();
  run.settings->add_grid_statistics();
  run.settings->complete_grid_statistics(0, 1, 1, 2001);
  run.settings->flush_grid_statistics();
  const std::string file = read_file(run.cap.dir.file("soil.sta"));
  EXPECT_NE(file.find("\t0.2500000\t0.7500000\t"), std::string::npos) << file;
  EXPECT_NE(file.find("2001\t 1\t 1\t 0\t1.00000\t2.00000\t"), std::string::npos) << file;
}

TEST(DefaultiniSetupFiles, LandUseLayerAndIceGrid) {
  struct row {
    const char* name;
    std::string standard_grids;
    int layers;
    bool renamed;
    std::string info;  // "" when the ice grid is found
  };
  const std::vector<row> rows = {
      // Entries: 1 zone grid, 2 elevation, 3 standard grid, 4-6 division,
      // 7-9 cell sizes and relative area, 10-11 coordinates, 12-13 slope and
      // aspect: 14 is free.
      {"no land use, no ice", "1\n$dir//soil.asc soil_depth 0\n", 0, false,
       "ice-grid not found in memory (at position 14)"},
      {"one land-use layer", "1\n$dir//soil.asc landuse 0\n", 1, true,
       "ice-grid not found in memory (at position 14)"},
      {"ice grid given", "2\n$dir//soil.asc soil_depth 0\n$dir//soil.asc ice_firn 0\n", 0, false,
       ""},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    setup_case run(control_file("", r.standard_grids), {{"soil.asc", text_grid(UNIFORM)}});
    ASSERT_EQ(run.code, 0) << run.cap.console();
    EXPECT_EQ(run.settings->layer_count(), r.layers);
    EXPECT_EQ(run.settings->find_grid("landuse1") > 0, r.renamed);
    EXPECT_EQ(run.settings->find_grid("landuse"), 0);
    if (r.info.empty()) {
      EXPECT_NE(run.settings->ice_firn(), nullptr);
      EXPECT_FALSE(run.logged("ice-grid not found"));
    } else {
      EXPECT_EQ(run.settings->ice_firn(), nullptr);
      EXPECT_TRUE(run.logged(r.info)) << run.cap.console();
    }
  }
}

TEST(DefaultiniSetupFiles, BrokenFilesGiveTheirEntryAndCode) {
  struct row {
    const char* name;
    std::string control;
    std::map<std::string, std::string> files;
    int code;
    std::string message;
  };
  const std::string soil_line = "1\n$dir//soil.asc soil_types 0\n";
  const std::vector<row> rows = {
      {"undefined symbol", control_file("", "1\n$nowhere//soil.asc soil_types 0\n"), {}, 17,
       "undefined symbol at line 24:"},
      {"missing model time value", control_file("", soil_line, "0\n1\n1\n2001\n23\n31\n12\n"),
       {{"soil.asc", text_grid(UNIFORM)}}, 17,
       "error in control file, end year in ; [model_time]not found!"},
      {"model time value of the wrong type",
       control_file("", soil_line, "0\nfirst\n1\n2001\n23\n31\n12\n2001\n"),
       {{"soil.asc", text_grid(UNIFORM)}}, 17,
       "error in control file, starting day in ; defaultsnot found!"},
      {"standard grid count of the wrong type", control_file("", "two\n"), {}, 17,
       "error in control file, couner/number of grids ; defaultsnot found!"},
      {"missing radiation correction",
       control_file("", "0\n").substr(0, control_file("", "0\n").find("[radiation")), {}, 17,
       "error in control file, [radiation_correction]; (EOF)not found!"},
      {"missing zone grid file", control_file("", "0\n", "0\n1\n1\n2001\n23\n31\n12\n2001\n",
                                              "$dir//absent.asc"),
       {}, 21, "error opening {dir}/absent.asc: " + std::string(std::strerror(ENOENT))},
      {"zone grid of no known format", control_file("", "0\n"),
       {{"zones.asc", std::string(64, 'x')}}, 22,
       "could not recognise file format (ascii, double or double) for "},
      {"missing standard grid file", control_file("", soil_line), {}, 21,
       "still error opening {dir}/soil.asc: " + std::string(std::strerror(ENOENT)) +
           " - no retry."},
      {"standard grid of other measures", control_file("", soil_line),
       {{"soil.asc", text_grid("4 4 4 4\n4 4 4 4\n4 4 4 4\n", 4, 3)}}, 24,
       "has not the specified grid measures"},
      {"standard grid of another cell size", control_file("", soil_line),
       {{"soil.asc", text_grid(UNIFORM, 3, 3, "100.0001")}}, 24,
       "has not the specified grid measures"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    setup_case run(r.control, r.files);
    EXPECT_EQ(run.code, r.code);
    std::string message = r.message;
    if (const size_t at = message.find("{dir}"); at != std::string::npos)
      message.replace(at, 5, run.cap.dir.path());
    EXPECT_TRUE(run.logged(message)) << run.cap.console();
  }
}
