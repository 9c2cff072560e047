// The sub-model base: the head of a module section, the progress line, the
// floating-point-error report, tracer set-up and arithmetic, the solar
// operations of a module and the ranking of a module's own zone grid.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "submodel/teilmod.h"
#include "modelbase/gridstore.h"
#include "settings/tracer_entry.h"
#include "settings/zonetable.h"
#include "support/diag_xml.h"
#include "support/test_support.h"

namespace {

int count_of(const std::string& text, const std::string& pattern) {
  int n = 0;
  for (size_t at = text.find(pattern); at != std::string::npos; at = text.find(pattern, at + 1))
    ++n;
  return n;
}

// A module that exposes the base's state to the tests.
class probe_module : public teilmodellklasse {
 public:
  using teilmodellklasse::teilmodellklasse;
  using teilmodellklasse::tracers;
  using teilmodellklasse::cur_hour;
  double steps_per_day_value() const { return steps_per_day; }
  bool control_open() const { return control_file() != nullptr; }
  int fpe() const { return fpe_flag; }
  void raise_fpe() { fpe_flag = 1; }
  void set_readgrid(int value) { readgrid = value; }
};

// A grid of two rows and three columns with one zone (code 1) and the
// module's control file in a scratch directory.
struct module_setup {
  module_setup() {
    zone_cells = alloc.matrix(1, 2, 1, 3, 2);
    for (int r = 1; r <= 2; ++r)
      for (int c = 1; c <= 3; ++c) zone_cells[r][c] = 1;
    zone_cells[2][3] = NODATA;
    store[1].grid = &zone_cells;
    store[1].grid_name = "[zone_grid]";
    store[1].file_name = "zones.asc";
    zones[1].code = 1;
    zones[1].share = 1;
    s.control_file = control();
    s.zone_table = zone_table_view{&zone_index, &zones, 1, 1};
    s.strips = &strips;
    s.ncols = 3;
    s.nrows = 2;
    s.first_row = 1;
    s.last_row = 2;
    s.cellsize = 100;
    s.output_control = 1;
  }
  void write_control(const std::string& text) { cd.dir.write("control.$$$", text); }
  std::string control() const { return cd.dir.file("control.$$$"); }
  std::unique_ptr<probe_module> make(const std::string& section = "snow_model",
                                     char missing_fatal = 1, int substeps = 1) {
    return std::make_unique<probe_module>(cd.diag.get(), section, &store, s, substeps,
                                          missing_fatal);
  }

  captured_diag cd;
  memory_handling alloc;
  grid_matrix zone_cells;
  grid_store store;
  std::vector<int> zone_index{0, 1};
  std::vector<zone_record> zones = std::vector<zone_record>(2);
  std::vector<row_strip> strips{row_strip{0, -1}, row_strip{1, 3}, row_strip{1, 3}};
  settings_context s;
};

int thrown_code(const std::function<void()>& f) {
  try {
    f();
  } catch (int code) {
    return code;
  }
  return 0;
}

TEST(SubmodelHead, ReadsFlowControlAndTimeInterval) {
  module_setup m;
  m.write_control("# modules\n[snow_model]\n2 flow control\n60 minutes\n");
  auto mod = m.make("snow_model", 1, 3);
  EXPECT_EQ(mod->object_name(), "snow_model");
  EXPECT_EQ(&mod->settings(), &m.s);  // the run's settings, not a copy
  EXPECT_EQ(mod->control_file_name(), m.control());
  EXPECT_EQ(mod->get_flow_control(), 2);
  EXPECT_EQ(mod->get_time_interval(), 60);
  EXPECT_EQ(mod->get_substeps(), 3);
  EXPECT_DOUBLE_EQ(mod->steps_per_day_value(), 24);
  EXPECT_TRUE(mod->control_open());  // the module reads on
  EXPECT_NE(m.cd.console().find("initializing module snow_model"), std::string::npos);
  mod->set_substeps(5);
  EXPECT_EQ(mod->get_substeps(), 5);
}

TEST(SubmodelHead, InactiveModules) {
  // Flow control 0: inactive, the control file is closed.
  module_setup zero;
  zero.write_control("[snow_model]\n0\n1440\n");
  auto inactive = zero.make();
  EXPECT_EQ(inactive->get_flow_control(), 0);
  EXPECT_FALSE(inactive->control_open());

  // No zone table: nothing is read, not even a missing control file.
  module_setup none;
  none.s.zone_table.zone_index = nullptr;
  auto bare = none.make("snow_model", 1, 4);
  EXPECT_EQ(bare->get_flow_control(), 0);
  EXPECT_EQ(bare->get_substeps(), 4);
  EXPECT_EQ(none.cd.console().find("initializing"), std::string::npos);

  // The special output may miss its section.
  module_setup special;
  special.write_control("[snow_model]\n1\n60\n");
  auto out = special.make("special_output", 0);
  EXPECT_EQ(out->get_flow_control(), 0);
}

TEST(SubmodelHead, Errors) {
  struct row {
    const char* what;
    const char* control;  // nullptr: no control file
    double min_to_int_end;
    int code;
    const char* message;
  } rows[] = {
      {"missing section", "[snow_modelx]\n1\n60\n", 0, 17,
       "error in control file, [snow_model]; (EOF)not found!"},
      {"unreadable flow control", "[snow_model]\nabc\n60\n", 0, 17,
       "error in control file, flow control parameter for ; snow_modelnot found!"},
      {"unreadable interval", "[snow_model]\n1\nsixty\n", 0, 17,
       "error in control file, time interval for ; snow_modelnot found!"},
      {"no control file", nullptr, 0, 28, "error opening "},
      // The hour shift must not exceed the step: 61 min after a 60-min step.
      {"shift beyond the step", "[snow_model]\n1\n60\n", 61, 63,
       "the time step 60 minutes as given in the section for the module snow_model \nis "
       "shorter than the parameter min_to_int_end with 61"},
      {"shift of one step", "[snow_model]\n1\n60\n", 60, 0, ""},
      {"daily shift of a daily step", "[snow_model]\n1\n1440\n", 1440, 0, ""},
  };
  for (const row& r : rows) {
    module_setup m;
    if (r.control != nullptr) m.write_control(r.control);
    m.s.min_to_int_end = r.min_to_int_end;
    std::unique_ptr<probe_module> mod;
    EXPECT_EQ(thrown_code([&] { mod = m.make(); }), r.code) << r.what;
    EXPECT_NE(m.cd.console().find(r.message), std::string::npos) << r.what << "\n"
                                                                  << m.cd.console();
    // The open names its file and the C library's reason.
    if (r.control == nullptr) {
      EXPECT_NE(m.cd.xml().find(diag_line(0, escape_diag_text("error opening " + m.control() +
                                                              ": " + std::strerror(ENOENT)))),
                std::string::npos)
          << r.what;
    }
  }
}

TEST(SubmodelStep, ProgressLineByReportInterval) {
  struct row {
    const char* what;
    int flow, interval;
    double min_to_int_end;
    int lines;  // over hours 0..24
  } rows[] = {
      {"every step", 1, 1, 0, 25},
      {"hours 0 and 24", 1, 24, 0, 2},
      {"shifted by one hour: 23 and 11 + 1", 1, 12, 60, 2},  // 11 + 1, 23 + 1
      {"inactive", 0, 1, 0, 0},
      {"interval 0 divides nothing", 1, 0, 0, 0},
  };
  for (const row& r : rows) {
    module_setup m;
    m.write_control("[snow_model]\n" + std::to_string(r.flow) + "\n60\n");
    m.s.output_control = r.interval;
    m.s.min_to_int_end = r.min_to_int_end;
    auto mod = m.make();
    for (int h = 0; h <= 24; ++h) mod->time_step(h, 1, 2, 2000);
    EXPECT_EQ(count_of(m.cd.console(), "(time of meteo data)"), r.lines) << r.what;
  }
  // The name right-aligned in 20 characters.
  module_setup m;
  m.write_control("[snow_model]\n1\n60\n");
  auto mod = m.make();
  mod->time_step(7, 1, 2, 2000);
  EXPECT_NE(m.cd.console().find("          snow_model 1.2.2000 7. h (time of meteo data)"),
            std::string::npos)
      << m.cd.console();
}

TEST(SubmodelLifeCycle, DefaultHooksDoNothingAndTheEndOfARunReleases) {
  // The application calls every hook on every module of its lists: a module
  // that does not take part must stay as it is. A hook that ran the step
  // would store the date and write the progress line (report interval 1).
  module_setup m;
  m.write_control("[snow_model]\n1\n60\n");
  auto mod = m.make();
  teilmodellklasse& hooks = *mod;
  const std::string before = m.cd.console();
  const model_date step{2000, 2, 1, 7};
  hooks.begin_step(step);
  for (int k = 1; k <= 3; ++k) hooks.run_substep(step, k);
  hooks.end_step(step);
  hooks.flush_outputs();
  EXPECT_EQ(m.cd.console(), before);
  EXPECT_EQ(mod->cur_hour, 0);
  EXPECT_FALSE(hooks.storage_section_written());

  // A module without a storage-content section just releases at the end.
  hooks.end_run(1);
  EXPECT_EQ(count_of(m.cd.console(), "deleting module snow_model"), 1);
  EXPECT_EQ(mod->object_name(), "");
}

TEST(SubmodelFpe, OneSignalIsReportedOnce) {
  module_setup m;
  m.write_control("[snow_model]\n1\n60\n");
  auto mod = m.make();
  mod->raise_fpe();
  mod->report_fpe(1, 2, 3, 4, 0.5, 1.5, 2.5, 3.5, 4.5);
  EXPECT_EQ(mod->fpe(), 2);
  mod->report_fpe(9, 9, 9, 9, 9, 9, 9, 9, 9);
  EXPECT_EQ(mod->fpe(), 0);
  const std::string text = m.cd.console();
  EXPECT_EQ(count_of(text, "fpe in"), 1);
  EXPECT_NE(text.find("fpe in i1: 1, i2: 2, i3: 3, i4: 4\na1: 0.5 a2: 1.5 a3: 2.5 a4: 3.5 a5: 4.5 "),
            std::string::npos);
  EXPECT_EQ(*mod->fpe_flag_address(), 0);
}

TEST(SubmodelTracers, Arithmetic) {
  module_setup m;
  m.s.zone_table.zone_index = nullptr;
  auto mod = m.make();
  struct row {
    const char* what;
    double got, expected;
  } rows[] = {
      {"mass 2 * 3", mod->tracer_mass(2, 3), 6},
      {"mix (2*1 + 4*3) / 4", mod->mix_concentrations(2, 4, 1, 3), 3.5},
      {"mix of no water", mod->mix_concentrations(2, 4, 0, 0), 0},
      {"enrich 2 * 10 / (10 - 5)", mod->enrich_concentration(2, 10, 5), 4},
      {"enrich when all water leaves", mod->enrich_concentration(2, 10, 10), 0},
  };
  for (const row& r : rows) EXPECT_DOUBLE_EQ(r.got, r.expected) << r.what;
}

TEST(SubmodelTracers, SetUpAndRelease) {
  module_setup m;
  m.write_control("[snow_model]\n1\n1440\n");
  auto mod = m.make();
  std::vector<tracer_entry> list(3);
  list[1].name = "chl";
  list[1].radioactive = 1;
  list[1].half_time = 1;  // [d]
  list[1].path = m.cd.dir.path() + "/";
  list[1].statext = "stat";
  list[1].gridext = "grd";
  list[1].statcode = 2001;
  list[1].gridcode = 0;
  list[2] = list[1];
  list[2].name = "no3";
  list[2].radioactive = 0;
  list[2].decay_factor = 0.25;
  statistics_registry reg;
  int status = -1;
  mod->init_tracers(status, 2, list.data(), &reg, STATISTICS_REGISTRY_SIZE);
  ASSERT_EQ(status, 0);
  // Half-life of one day in daily steps: exp(-1 / 1.442695041111) = 0.5.
  EXPECT_NEAR(list[1].decay_factor, 0.5, 1e-9);
  EXPECT_EQ(list[2].decay_factor, 0.25);  // only decaying tracers get a factor
  // The module keeps its own factor: another module's set-up may rewrite the
  // shared entry with the factor of its own interval.
  EXPECT_NEAR(mod->tracers[1].decay_factor, 0.5, 1e-9);
  EXPECT_EQ(mod->tracers[2].decay_factor, 1.0);
  // "%s%.3s%.5s.%.3s": path, tracer, module (5 characters), extension (3).
  const std::string stat_file = m.cd.dir.file("chlsnow_.sta");
  EXPECT_EQ(read_file(stat_file),
            "YY\tMM\tDD\tHH\t\"1\"\ttot_average\n"
            "tracer concentration for tracer 1 (chl) _submodel:snow_model\n"
            "--\t--\t--\t--\t1.0000000\t1.0000\n");
  EXPECT_EQ(*reg.records[1].entity_name,
            "tracer concentration for tracer 2 (no3) _submodel:snow_model");
  // Store entries after the zone grid: storage and flux of each tracer.
  EXPECT_EQ(*m.store[2].grid_name, "concstor_tracer_1_snow_model");
  EXPECT_EQ(*m.store[3].grid_name, "concflux_tracer_1_snow_model");
  EXPECT_EQ(*m.store[4].grid_name, "concstor_tracer_2_snow_model");
  EXPECT_EQ(*m.store[3].file_name, m.cd.dir.file("chlsnow_.grd"));
  const module_tracer& t = mod->tracers[1];
  EXPECT_EQ(t.storage_index, 2);
  EXPECT_EQ(t.flux_index, 3);
  EXPECT_EQ(t.zones[1].code, 1);
  EXPECT_EQ(t.storage[1][1], 0);
  EXPECT_EQ(t.storage[2][3], NODATA);  // no zone there

  mod->free_tracer_statistics();
  EXPECT_FALSE(m.store[2].grid_name.has_value());
  EXPECT_FALSE(m.store[5].grid_name.has_value());
  EXPECT_EQ(mod->tracers[1].statistic, nullptr);
}

TEST(SubmodelTracers, HalfTimeOfZeroOrLessIsGoneAtOnce) {
  // The formula would give a factor above 1 and create tracer.
  for (const double half_time : {0.0, -9999.0}) {
    SCOPED_TRACE(half_time);
    module_setup m;
    m.write_control("[snow_model]\n1\n1440\n");
    auto mod = m.make();
    std::vector<tracer_entry> list(2);
    list[1].name = "chl";
    list[1].radioactive = 1;
    list[1].half_time = half_time;
    list[1].path = m.cd.dir.path() + "/";
    int status = -1;
    mod->init_tracers(status, 1, list.data(), nullptr, 0);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(mod->tracers[1].decay_factor, 0.0);
  }
}

TEST(SubmodelTracers, StorageFromTheStateFile) {
  module_setup m;
  m.write_control("[snow_model]\n1\n60\n");
  auto mod = m.make();
  mod->set_readgrid(1);
  m.cd.dir.write("so4snow_.grd",
                 "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 100\nnodata_value -9999\n"
                 "1 2 3\n4 5 -9999\n");
  std::vector<tracer_entry> list(2);
  list[1].name = "so4";
  list[1].path = m.cd.dir.path() + "/";
  list[1].gridext = "grd";
  list[1].statcode = 0;
  int status = -1;
  mod->init_tracers(status, 1, list.data(), nullptr, 0);
  ASSERT_EQ(status, 0) << m.cd.console();
  EXPECT_EQ(mod->tracers[1].storage[1][2], 2);
  EXPECT_EQ(mod->tracers[1].storage[2][1], 4);
  EXPECT_EQ(m.store[2].grid, &mod->tracers[1].storage);
  mod->free_tracer_statistics();
}

TEST(SubmodelTracers, Failures) {
  // No tracers: nothing to do.
  module_setup none;
  none.write_control("[snow_model]\n1\n60\n");
  auto a = none.make();
  int status = -1;
  a->init_tracers(status, 0, nullptr, nullptr, 0);
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(none.store[2].grid_name.has_value());

  // A full store: code 12 in the status.
  module_setup full;
  full.write_control("[snow_model]\n1\n60\n");
  for (int i = 2; i < GRID_STORE_FULL; ++i) {
    full.store[i].grid = &full.zone_cells;
    full.store[i].grid_name = "g" + std::to_string(i);
    full.store[i].file_name = "f";
  }
  auto b = full.make();
  std::vector<tracer_entry> list(2);
  list[1].name = "chl";
  list[1].statcode = 0;
  b->init_tracers(status, 1, list.data(), nullptr, 0);
  EXPECT_EQ(status, 12);
  EXPECT_NE(full.cd.console().find("no free grid left. Please contact the author to set the "
                                   "number of available grids to a larger value 1000"),
            std::string::npos);

  // A listed zone without a zone: the statistic's status.
  module_setup listed;
  listed.write_control("[snow_model]\n1\n60\n");
  listed.s.selected_codes = {1, 99};
  auto c = listed.make();
  list[1].statcode = 5001;
  list[1].path = listed.cd.dir.path() + "/";
  c->init_tracers(status, 1, list.data(), nullptr, 0);
  EXPECT_EQ(status, 1);
}

// A module that takes the equation of time as 0.
class no_equation_of_time : public probe_module {
 public:
  using probe_module::probe_module;
  double equation_of_time(int, int) override { return 0; }
};

TEST(SubmodelSolar, OperationsOfAModule) {
  module_setup m;
  m.write_control("[snow_model]\n1\n1440\n");
  m.s.latitude = 0;
  auto mod = m.make();
  // 1 March: the equation of time is the March entry, -12.6 min = -0.21 h,
  // so sunrise and sunset at the equator are 6.21 and 18.21.
  EXPECT_NEAR(mod->equation_of_time(1, 3), -0.21, 1e-12);
  double rise = 0, set = 0;
  mod->sunrise_sunset(1, 3, rise, set, 0, 0);
  EXPECT_NEAR(rise, 6.21, 1e-12);
  EXPECT_NEAR(set, 18.21, 1e-12);
  // A daily step ending at 24 h: 6.21 dark hours before sunrise, 5.79 after
  // sunset: night share 12 / 24.
  mod->time_step(24, 1, 3, 2000);
  EXPECT_EQ(mod->daylight_fraction(), 0);
  EXPECT_NEAR(mod->get_dark_hours_start(), 6.21, 1e-12);
  EXPECT_NEAR(mod->get_dark_hours_end(), 5.79, 1e-12);
  EXPECT_NEAR(mod->get_night_share(), 0.5, 1e-12);
  EXPECT_NEAR(mod->get_daylight_share(), 0.5, 1e-12);
  EXPECT_NEAR(mod->get_sunrise_hour(), 6.21, 1e-12);

  // An override of the equation of time reaches sunrise and elevation.
  module_setup o;
  o.write_control("[snow_model]\n1\n1440\n");
  no_equation_of_time plain(o.cd.diag.get(), "snow_model", &o.store, o.s, 1, 1);
  plain.sunrise_sunset(1, 3, rise, set, 0, 0);
  EXPECT_DOUBLE_EQ(rise, 6);
  EXPECT_DOUBLE_EQ(set, 18);
  // Declination on 1 March (day 60): -23.4 cos(70 / 58.09155423) = -8.29;
  // at solar noon on the equator the elevation is 90 - 8.29.
  const double declination = -23.4 * std::cos(70 / 58.09155423);
  EXPECT_NEAR(plain.sun_elevation(1, 3, 2000, 0, 0, 12), 90 + declination, 1e-6);
}

// The zone grid "zonegrid_soilmodel" of a module, with optional relative
// cell areas, ranked on one process.
struct ranking_setup : module_setup {
  ranking_setup(int rows, int cols, const std::vector<double>& values) {
    s.nrows = rows;
    s.ncols = cols;
    s.last_row = rows;
    strips.assign(static_cast<size_t>(rows) + 1, row_strip{1, cols});
    strips[0] = row_strip{0, -1};
    ranked = alloc.matrix(1, rows, 1, cols, rows);
    for (int r = 1; r <= rows; ++r)
      for (int c = 1; c <= cols; ++c)
        ranked[r][c] = values[static_cast<size_t>((r - 1) * cols + c - 1)];
    store[2].grid = &ranked;
    store[2].grid_name = "zonegrid_soilmodel";
    store[2].file_name = "soilzones.asc";
    write_control("[unsatzon_model]\n1\n60\n");
  }
  void with_areas(const std::vector<double>& values) {
    areas = alloc.matrix(1, s.nrows, 1, s.ncols, s.nrows);
    for (int r = 1; r <= s.nrows; ++r)
      for (int c = 1; c <= s.ncols; ++c)
        areas[r][c] = values[static_cast<size_t>((r - 1) * s.ncols + c - 1)];
    store[3].grid = &areas;
    store[3].grid_name = "RelCellArea";
    store[3].file_name = "area.asc";
  }
  int rank_zones() {
    auto mod = make("unsatzon_model");
    return thrown_code([&] { mod->zone_ranking(grid, records, index, count, max_code); });
  }
  grid_matrix ranked, areas;
  const grid_matrix* grid = nullptr;
  std::vector<zone_record> records;
  std::vector<int> index;
  int count = 0, max_code = 0;
};

TEST(ZoneRanking, SortsZonesAndIndexesTheirCodes) {
  ranking_setup z(2, 3, {7, 3, 7, 12, NODATA, NODATA});
  z.s.cellsize = 1000;
  ASSERT_EQ(z.rank_zones(), 0);
  EXPECT_EQ(z.grid, &z.ranked);
  EXPECT_EQ(z.count, 3);
  EXPECT_EQ(z.max_code, 12);
  ASSERT_EQ(z.records.size(), 4u);
  ASSERT_EQ(z.index.size(), 13u);
  const double codes[] = {3, 7, 12};
  const double cells[] = {1, 2, 1};
  for (int k = 1; k <= 3; ++k) {
    EXPECT_EQ(z.records[static_cast<size_t>(k)].code, codes[k - 1]);
    EXPECT_EQ(z.records[static_cast<size_t>(k)].sum, cells[k - 1]);       // cells
    EXPECT_EQ(z.records[static_cast<size_t>(k)].count, cells[k - 1]);     // areas
    EXPECT_EQ(z.records[static_cast<size_t>(k)].weight, cells[k - 1]);
    EXPECT_DOUBLE_EQ(z.records[static_cast<size_t>(k)].share, cells[k - 1] / 4);
    EXPECT_EQ(z.index[static_cast<size_t>(codes[k - 1])], k);
  }
  EXPECT_EQ(z.index[5], 0);
  EXPECT_DOUBLE_EQ(z.records[0].share, 4.0);  // 4 cells of 1 km2
  EXPECT_EQ(z.records[0].code, 1);
  EXPECT_NE(z.cd.console().find("ranking zones from soilzones.asc for unsatzon_model"),
            std::string::npos);
}

TEST(ZoneRanking, SmallCellsAreNotRefused) {
  // Relative areas below 1: 0.4 and 0.3 in zone 5, 0.2 in zone 6; total 0.9.
  // A total cut to whole cells would be 0 and the basin called all NODATA.
  ranking_setup z(1, 3, {5, 5, 6});
  z.with_areas({0.4, 0.3, 0.2});
  ASSERT_EQ(z.rank_zones(), 0);
  EXPECT_DOUBLE_EQ(z.records[1].count, 0.7);
  EXPECT_DOUBLE_EQ(z.records[1].share, 0.7 / 0.9);
  EXPECT_DOUBLE_EQ(z.records[2].share, 0.2 / 0.9);
  EXPECT_DOUBLE_EQ(z.records[1].share + z.records[2].share, 1.0);
  // Mixed areas 1.5 and 2.5: shares 0.375 and 0.625 (not 1.5/3 and 2.5/3).
  ranking_setup w(1, 2, {1, 2});
  w.with_areas({1.5, 2.5});
  ASSERT_EQ(w.rank_zones(), 0);
  EXPECT_DOUBLE_EQ(w.records[1].share, 0.375);
  EXPECT_DOUBLE_EQ(w.records[2].share, 0.625);
}

TEST(ZoneRanking, Errors) {
  struct row {
    const char* what;
    std::vector<double> values;
    int code;
    const char* message;
  } rows[] = {
      {"negative code", {1, -1}, 3,
       "wrong zone index in soilzones.asc!\n Zones have to range from 0 to 32767!"},
      {"code above the range", {32768, 1}, 3, "wrong zone index in soilzones.asc!"},
      {"largest code", {32767, 0}, 0, ""},
      {"all nodata", {NODATA, NODATA}, 7, "all cells in soilzones.asc are NODATA!"},
  };
  for (const row& r : rows) {
    ranking_setup z(1, 2, r.values);
    EXPECT_EQ(z.rank_zones(), r.code) << r.what;
    EXPECT_NE(z.cd.console().find(r.message), std::string::npos) << r.what;
  }
}

TEST(ZoneRanking, TooManyZonesAndSubbasins) {
  // 10001 zones: accepted by the ranking's table, refused as subbasins.
  std::vector<double> many(10001);
  for (size_t i = 0; i < many.size(); ++i) many[i] = static_cast<double>(i);
  ranking_setup sub(1, 10001, many);
  EXPECT_EQ(sub.rank_zones(), 4);
  EXPECT_NE(sub.cd.console().find("too much subbasins (10001) in unsatzon_model (max. 10000). Ende!"),
            std::string::npos);
  // 16001 zones: more than the table holds.
  std::vector<double> more(16001);
  for (size_t i = 0; i < more.size(); ++i) more[i] = static_cast<double>(i);
  ranking_setup table(1, 16001, more);
  EXPECT_EQ(table.rank_zones(), 4);
  EXPECT_NE(table.cd.console().find("too much zones in soilzones.asc, (max. 16000!)"),
            std::string::npos);
}

TEST(ZoneRanking, OneRuleFromCellValueToZoneCode) {
  // floor(value + 0.5), by hand: halves go up, codes stay in 0..32767.
  struct row {
    double value;
    bool valid;
    int code;
  } rows[] = {
      {3, true, 3},
      {2.5, true, 3},
      {3.49, true, 3},
      {-0.5, true, 0},
      {-0.51, false, 0},
      {-1, false, 0},
      {32767.49, true, 32767},
      {32767.5, false, 0},
      {std::nan(""), false, 0},
  };
  for (const row& r : rows) {
    int code = -7;
    EXPECT_EQ(zone_code_of(r.value, code), r.valid) << r.value;
    if (r.valid) {
      EXPECT_EQ(code, r.code) << r.value;
    }
  }
}

TEST(ZoneRanking, ModulesAndSettingsRankFractionalValuesAlike) {
  // Values 2.6, 3.4, 2.5, -0.4, 7.49: codes 3, 3, 3, 0, 7 (nearest whole
  // number) give zones 0, 3, 7 with 1, 3, 1 cells, shares 0.2, 0.6, 0.2.
  const std::vector<double> values = {2.6, 3.4, 2.5, -0.4, 7.49, NODATA};
  ranking_setup z(1, 6, values);
  ASSERT_EQ(z.rank_zones(), 0);
  ASSERT_EQ(z.count, 3);
  EXPECT_EQ(z.max_code, 7);
  const double codes[] = {0, 3, 7};
  const double cells[] = {1, 3, 1};
  for (int k = 1; k <= 3; ++k) {
    EXPECT_EQ(z.records[static_cast<size_t>(k)].code, codes[k - 1]) << k;
    EXPECT_EQ(z.records[static_cast<size_t>(k)].sum, cells[k - 1]) << k;
    EXPECT_DOUBLE_EQ(z.records[static_cast<size_t>(k)].share, cells[k - 1] / 5) << k;
  }
  const std::vector<int> index = {1, 0, 0, 2, 0, 0, 0, 3};
  EXPECT_EQ(z.index, index);

  // The settings object ranks the same grid as its zone grid: the same
  // zones, only record 0 keeps code 0 instead of the module's 1.
  grid_store settings_store;
  settings_store[1].grid = &z.ranked;
  settings_store[1].file_name = "zones.asc";
  zone_table table;
  auto owner = z.make("unsatzon_model");
  ASSERT_EQ(thrown_code([&] {
              table.rank_zone_grid(*owner, settings_store, nullptr, 6, 1, NODATA, z.s.cellsize,
                                   1, 1);
            }),
            0);
  ASSERT_EQ(table.zone_count, z.count);
  EXPECT_EQ(table.max_zone_code, z.max_code);
  EXPECT_EQ(table.code_to_index, z.index);
  for (int k = 0; k <= 3; ++k) {
    const zone_record& a = table.records[static_cast<size_t>(k)];
    const zone_record& b = z.records[static_cast<size_t>(k)];
    EXPECT_EQ(a.count, b.count) << k;
    EXPECT_EQ(a.sum, b.sum) << k;
    EXPECT_EQ(a.code, k == 0 ? 0 : b.code) << k;
    EXPECT_EQ(a.share, b.share) << k;
    EXPECT_EQ(a.weight, b.weight) << k;
  }
  EXPECT_EQ(z.records[0].code, 1);
}

}  // namespace
