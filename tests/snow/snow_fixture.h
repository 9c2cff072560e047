// What the snow module tests share: a grid of two rows of three cells, all
// inside one zone, held whole by the one process; the grids of other modules
// the module takes (all 0 unless a test sets them) and the text of a
// "[snow_model]" section whose lines a test changes one by one.
#pragma once

#include <deque>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "modelbase/gridstore.h"
#include "snow/snowmod.h"
#include "support/test_support.h"

// A "[snow_model]" section in the reading order of the module.
struct snow_section_text {
  int flow_control = 1;
  int interval = 60;  // [min]
  std::string method = "1";
  // Lines 2 to 14: transzone, T0R, T0, CWH, CRFR, C0, C1, C2, z0, RMFMIN,
  // RMFMAX, ALBsnow_min, ALBsnow_max.
  std::vector<std::string> values = {"1",   "0",    "0", "0.1", "0.5", "3",  "2",
                                     "0.5", "0.01", "1", "3",   "0.4", "0.9"};
  std::string grid_dir = "@DIR@";  // where the grid files of lines 15 to 40 lie
  std::string readgrid = "0";
  // Lines 42 to 63 (methods above 4).
  std::string line42 = "@DIR@/snowtemp.asc";
  std::string max_deposition_slope = "55";
  std::string max_deposition_factor = "1";
  std::string min_slide_slope = "30";
  std::string slide_mass_fraction = "0.01";
  std::string lw_in = "1";
  std::string lw_out = "1";
  std::string line63 = "1.2";  // empty: no line 63
  std::string after = "[interception_model]\n0\n60\n";

  std::string text() const {
    std::string s = "[snow_model]\n" + std::to_string(flow_control) +
                    " flow control parameter for\n" + std::to_string(interval) +
                    " time interval for\n" + method + " method for\n";
    static const char* const keys[] = {"transzone", "T0R",         "T0",         "CWH", "CRFR",
                                       "C0",        "C1",          "C2",         "z0",  "RMFMIN",
                                       "RMFMAX",    "ALBsnow_min", "ALBsnow_max"};
    for (size_t i = 0; i < values.size(); ++i) s += values[i] + " " + keys[i] + " for\n";
    auto grid = [&](const char* n) { s += grid_dir + "/" + n + ".asc name\n0 writegrid\n"; };
    auto stat = [&](const char* n) { s += std::string("@DIR@/") + n + ".txt 0 statistics\n"; };
    grid("rain");
    stat("rain");
    grid("snow");
    stat("snow");
    grid("days");
    stat("days");
    grid("age");
    stat("age");
    stat("albedo");
    grid("outflow");
    stat("outflow");
    grid("melt");
    stat("melt");
    grid("solid");
    grid("liquid");
    stat("total");
    grid("total");
    s += readgrid + " readgrid forr storage grids\n";
    if (std::stoi(method) > 4) {
      s += line42 + "\n0 writegrid\n";
      stat("snowtemp");
      s += grid_dir + "/surftemp.asc name\n0 writegrid\n";
      stat("surftemp");
      grid("input_mass");
      stat("input_mass");
      grid("mobile_mass");
      stat("mobile_mass");
      grid("deposition");
      stat("deposition");
      s += max_deposition_slope + " maximum slope\n" + max_deposition_factor + " factor\n" +
           min_slide_slope + " minimum slope\n" + slide_mass_fraction + " slide mass\n" + lw_in +
           " lw in\n" + lw_out + " lw out\n";
      if (!line63.empty()) s += line63 + " EnBalScaling\n";
    }
    return s + after;
  }
};

struct snow_fixture {
  static constexpr int COLS = 3;

  // rows: grid rows, each held whole by every process; a test gives a
  // process its own band.
  explicit snow_fixture(int rows_in = 2) : nrows(rows_in) {
    strips.assign(static_cast<size_t>(nrows) + 1, row_strip{1, 3});
    strips[0] = row_strip{0, -1};
    settings.control_file = cd.dir.file("control.$$$");
    settings.zone_table = zone_table_view{&zone_index, &zones, 1, 1};
    settings.strips = &strips;
    settings.ncols = COLS;
    settings.nrows = nrows;
    settings.first_row = 1;
    settings.last_row = nrows;
    settings.cellsize = 100;
    const std::vector<std::string> names = {"zonegrid",           "[elevation_model]",
                                            "zonegrid_soilmodel", "albedo",
                                            "landuse1",           "temperature",
                                            "temperature_night",  "wind_speed",
                                            "vapor_pressure",     "slidefraction1",
                                            "slidefraction2",     "slidefraction3",
                                            "slidefraction4",     "slope_angle",
                                            "deposition_index",   "cloudiness",
                                            "air_humidity",       "AspectCorrectedGlobalRadiation",
                                            "precipitation"};
    for (const std::string& n : names) publish(n);
    for (int r = 1; r <= nrows; ++r)
      for (int c = 1; c <= COLS; ++c) {
        grid("zonegrid")[r][c] = 1;
        grid("zonegrid_soilmodel")[r][c] = 1;
      }
  }

  // Publishes a grid of 0 in the next store entry.
  grid_matrix& publish(const std::string& name) {
    grids.push_back(memory.matrix(1, nrows, 0, COLS, nrows));
    const int index = static_cast<int>(grids.size());
    store[index].grid = &grids.back();
    store[index].grid_name = name;
    store[index].file_name = name + ".asc";
    return grids.back();
  }

  grid_matrix& grid(const std::string& name) {
    for (int i = 1; i < GRID_STORE_FULL; ++i)
      if (store[i].grid_name && *store[i].grid_name == name) return *store[i].grid;
    throw std::runtime_error(name + " not in the store");
  }
  bool has(const std::string& name) const { return index_of(name) > 0; }
  int index_of(const std::string& name) const {
    for (int i = 1; i < GRID_STORE_FULL; ++i)
      if (store[i].grid_name && *store[i].grid_name == name) return i;
    return 0;
  }

  void write(const snow_section_text& section) { write_text(section.text()); }
  void write_text(std::string text) {
    for (size_t at = text.find("@DIR@"); at != std::string::npos; at = text.find("@DIR@"))
      text.replace(at, 5, cd.dir.path());
    cd.dir.write("control.$$$", text);
  }
  // A text grid of the fixture's measures with the rows given.
  void write_grid(const std::string& name, const std::string& rows) {
    cd.dir.write(name, "ncols 3\nnrows " + std::to_string(nrows) +
                           "\nxllcorner 0\nyllcorner 0\ncellsize 100\nnodata_value -9999\n" + rows);
  }

  std::unique_ptr<schneemodellklasse> build(int& status) {
    return std::make_unique<schneemodellklasse>(status, cd.diag.get(), nullptr, 0, "snow_model",
                                                &store, settings);
  }
  std::string console() const { return cd.console(); }

  captured_diag cd;
  // The module writes "modell_<rank>.log" into the working directory.
  struct working_folder {
    std::filesystem::path before = std::filesystem::current_path();
    explicit working_folder(const std::string& dir) { std::filesystem::current_path(dir); }
    ~working_folder() { std::filesystem::current_path(before); }
    working_folder(const working_folder&) = delete;
    working_folder& operator=(const working_folder&) = delete;
  } cwd{cd.dir.path()};
  grid_store store;
  std::vector<int> zone_index{0, 1};
  std::vector<zone_record> zones = std::vector<zone_record>(2);
  int nrows = 2;
  std::vector<row_strip> strips;
  settings_context settings;
  memory_handling memory;
  std::deque<grid_matrix> grids;  // never moved: the store keeps pointers
};

// An "[ice_firn]" section; the lines of the dynamic methods follow for
// methods 11 to 13.
struct ice_firn_text {
  std::string method = "1";
  // Lines 2 to 15: DDFice, DDFfirn, DDFsnow, MF, Aice_min, Aice_max,
  // Asnow_min, Asnow_max, kice, kfirn, ksnow, Qice, Qfirn, Qsnow.
  std::vector<std::string> values = {"6",   "5",  "4",  "2",  "0.1", "0.3", "0.05",
                                     "0.2", "10", "20", "30", "1.5", "0",   "2.25"};
  std::string total_statistic = "@DIR@/glac.txt";
  std::string readgrid = "0";
  std::string line25 = "3 2500 2";
  std::string line26 = "30 9";
  std::string line27 = "28.5 1.36 3 1";
  std::string line53 = "800 0.5";  // empty: no line 53

  std::string text() const {
    std::string s = "[ice_firn]\n" + method + " Glacier-Method for\n";
    for (const std::string& v : values) s += v + " value\n";
    s += "@DIR@/firn.asc name\n0 code\n@DIR@/qfirn.txt 0 stat\n@DIR@/ice.asc name\n0 code\n"
         "@DIR@/qice.txt 0 stat\n" +
         total_statistic + " 0 stat\n";
    if (std::stoi(method) < 11) return s;
    s += "@DIR@/qsog.txt 0 stat\n" + readgrid + " read grid\n" + line25 + "\n" + line26 + "\n" +
         line27 + "\n@DIR@/firn.stack name\n0 code\n@DIR@/firn.txt 0 stat\n";
    s += "@DIR@/mb.asc name\n0 code\n@DIR@/mbold.asc name\n0 code\n@DIR@/mb1.txt 0 stat\n"
         "@DIR@/mb2.txt 0 stat\n1 debris\n@DIR@/sog.txt 0 stat\n";
    for (const char* n : {"solid", "liquid", "total", "melt", "surftemp", "snowtemp", "evap"})
      s += std::string("@DIR@/") + n + "_g.asc name\n0 code\n";
    return s + line53 + "\n";
  }
};
