// The global sections read by the settings object: output settings, model
// time, the radiation-correction value, the standard-grid definitions and
// the sub-step count, with their corrections and their fatal entries.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "modelbase/gridstore.h"
#include "settings/defltuzr.h"
#include "support/test_support.h"

namespace {

// The sections read_base_settings needs, with the output interval given.
std::string base_sections(const std::string& output_interval,
                          const std::string& output_list = "0\n") {
  return "[output_interval]\n" + output_interval + "\n[output_list]\n" + output_list +
         "[coordinates]\n47.5\n8.25\n15\n1\n[meteo_data_count]\n2\n"
         "[meteo_names]\ntemperature\nprecipitation  rest\n";
}

struct settings_fixture {
  explicit settings_fixture(const std::string& text) {
    cap.dir.write("run.ctl", text);
    settings = std::make_unique<defaultini>(status, cap.diag.get(), cap.dir.file("run.ctl"),
                                            nullptr, 0, 2, &store);
  }
  // The code thrown by f, 0 when it returned.
  static int code_of(const std::function<void()>& f) {
    try {
      f();
    } catch (int code) {
      return code;
    }
    return 0;
  }
  int read_base() {
    return code_of([this] { settings->read_base_settings(cap.dir.file("run.ctl")); });
  }
  // Opens the control file as stage 1 does and runs f on the object.
  int with_open_file(const std::function<void(defaultini&)>& f) {
    EXPECT_TRUE(settings->open_control_file());
    return code_of([&] { f(*settings); });
  }
  bool logged(const std::string& piece) const {
    return cap.console().find(piece) != std::string::npos;
  }
  captured_diag cap;
  grid_store store;
  unsigned status = 99;
  std::unique_ptr<defaultini> settings;
};

}  // namespace

TEST(DefaultiniOutputSettings, OutputIntervalLinesAreCorrectedSilently) {
  struct row {
    const char* name;
    std::string lines;
    int radius, unit;
    double minutes;
  };
  const std::vector<row> rows = {
      {"plain values", "24\n1\n1\n30\n", 1, 1, 30},
      {"switches above 1", "24\n5\n5\n0\n", 1, 0, 0},
      // Negative switches are compared unsigned, so they are corrected too.
      {"negative switches", "24\n-1\n-1\n0\n", 1, 0, 0},
      {"negative minutes become 0", "24\n0\n0\n-60\n", 0, 0, 0},
      {"unreadable lines keep their defaults", "24\nx\ny\nz\n", 0, 0, 0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    settings_fixture f(base_sections(r.lines));
    ASSERT_EQ(f.read_base(), 0);
    const base_settings& b = f.settings->output_settings();
    EXPECT_EQ(b.output_control, 24);
    EXPECT_EQ(b.radius_warnings, r.radius);
    EXPECT_EQ(b.discharge_unit, r.unit);
    EXPECT_EQ(b.min_to_int_end, r.minutes);
    EXPECT_FALSE(f.logged("FATAL"));
  }
}

TEST(DefaultiniOutputSettings, KeyLinesUpToTheFirstEmptyLine) {
  struct row {
    const char* name;
    std::string keys;
    int ascii, dbl;
    const char* input;   // nullptr: no directory
    const char* output;
  };
  const std::vector<row> rows = {
      {"no keys", "", 0, 0, nullptr, nullptr},
      {"switch with blanks", "WriteAsciiGrids = 1\n", 1, 0, nullptr, nullptr},
      {"switch without blanks", "\t WriteDoubleGrids=1\n", 0, 1, nullptr, nullptr},
      {"switch without =", "WriteAsciiGrids 1\n", 0, 0, nullptr, nullptr},
      {"directories", "InitialStateDirectory = /in/ rest\nDefaultOutputDirectory=out/\n", 0, 0,
       "/in/", "out/"},
      {"a key after an empty line is not seen", "WriteAsciiGrids = 1\n\nWriteDoubleGrids = 1\n",
       1, 0, nullptr, nullptr},
      {"a blank-only line ends the keys too", "   \t\nWriteAsciiGrids = 1\n", 0, 0, nullptr,
       nullptr},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    settings_fixture f(base_sections("1\n0\n0\n0\n" + r.keys));
    ASSERT_EQ(f.read_base(), 0);
    const settings_context& exported = f.settings->export_settings();
    EXPECT_EQ(exported.write_ascii_grids, r.ascii);
    EXPECT_EQ(exported.write_double_grids, r.dbl);
    if (r.input == nullptr) {
      EXPECT_EQ(exported.input_directory, nullptr);
    } else {
      ASSERT_NE(exported.input_directory, nullptr);
      EXPECT_EQ(*exported.input_directory, r.input);
    }
    if (r.output == nullptr) {
      EXPECT_EQ(exported.output_directory, nullptr);
    } else {
      ASSERT_NE(exported.output_directory, nullptr);
      EXPECT_EQ(*exported.output_directory, r.output);
    }
  }
}

TEST(DefaultiniOutputSettings, ListsCoordinatesAndMeteorologicalNames) {
  settings_fixture f(base_sections("1\n0\n0\n0\n", "3\n3\n7 comment\n12\n"));
  ASSERT_EQ(f.read_base(), 0);
  const base_settings& b = f.settings->output_settings();
  EXPECT_EQ(b.selected_codes, (std::vector<int>{3, 3, 7, 12}));
  EXPECT_EQ(b.latitude, 47.5);
  EXPECT_EQ(b.longitude, 8.25);
  EXPECT_EQ(b.reference_meridian, 15);
  EXPECT_EQ(b.time_shift, 1);
  EXPECT_EQ(b.meteo_count, 2);
  EXPECT_EQ(b.meteo_names, (std::vector<std::string>{"", "temperature", "precipitation"}));
}

TEST(DefaultiniOutputSettings, BrokenSectionsGiveTheirEntriesAndCodes) {
  struct row {
    const char* name;
    std::string control;
    int code;
    std::string message;
  };
  const std::string interval = "[output_interval]\n1\n0\n0\n0\n";
  const std::string tail = "[coordinates]\n1\n2\n3\n4\n[meteo_data_count]\n0\n[meteo_names]\n";
  const std::vector<row> rows = {
      {"ascending codes", interval + "[output_list]\n3\n3\n7\n12\n" + tail, 0, ""},
      {"a single code", interval + "[output_list]\n1\n9\n" + tail, 0, ""},
      {"no meteorological input", interval + "[output_list]\n0\n" + tail, 0, ""},
      {"equal codes", interval + "[output_list]\n3\n3\n7\n7\n" + tail, 97,
       "order of subbasin codes in output_list!"},
      {"descending codes", interval + "[output_list]\n2\n7\n3\n" + tail, 97,
       "than the codes has to be arranged in ascendend order"},
      {"missing output interval", "[output_list]\n0\n" + tail, 17,
       "error in control file, [output_interval]; (EOF)not found!"},
      {"output control not a number", "[output_interval]\nx\n[output_list]\n0\n" + tail, 17,
       "error in control file, output control; not found!"},
      {"count not a number", interval + "[output_list]\nnone\n" + tail, 17,
       "error in control file, number of subbasins in output list; not found!"},
      {"a code missing", interval + "[output_list]\n2\n5\n" + tail, 17,
       "error in control file, codes in output-list; not found!"},
      {"latitude of the wrong type", interval + "[output_list]\n0\n[coordinates]\nnorth\n", 17,
       "error in control file, geographic latitude; not found!"},
      {"time shift missing", interval + "[output_list]\n0\n[coordinates]\n1\n2\n3\n", 17,
       "error in control file, time shift of data time to lokal time; not found!"},
      {"missing meteo names", interval + "[output_list]\n0\n[coordinates]\n1\n2\n3\n4\n"
       "[meteo_data_count]\n0\n", 17, "error in control file, [meteo_names]; (EOF)not found!"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    settings_fixture f(r.control);
    EXPECT_EQ(f.read_base(), r.code);
    if (!r.message.empty()) {
      EXPECT_TRUE(f.logged(r.message)) << f.cap.console();
    }
  }
}

TEST(DefaultiniOutputSettings, RadiationCorrectionIsRequiredAndReadSilently) {
  struct row {
    const char* name;
    std::string control;
    int code;
    int value;
  };
  const std::vector<row> rows = {
      {"flow control 1", "[radiation_correction]\n1 # flow\n60\n", 0, 1},
      {"unreadable value", "[radiation_correction]\nnone\n", 0, 0},
      {"missing section", "[other]\n1\n", 17, 0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    settings_fixture f(r.control);
    EXPECT_EQ(f.with_open_file([](defaultini& d) { d.read_radiation_correction_flow_control(); }),
              r.code);
    EXPECT_EQ(f.settings->radiation_correction_value(), r.value);
  }
}

TEST(DefaultiniModelTime, DatesAreCorrected) {
  struct row {
    const char* name;
    std::string values;  // start hour day month year, end hour day month year
    int64_t start[4];    // hour, day, month, year after correction
    int64_t end[4];
    int february;
  };
  const std::vector<row> rows = {
      // Two-digit years get 1900; 1999 is no leap year.
      {"two-digit years", "1 1 1 99 24 31 12 99", {1, 1, 1, 1999}, {24, 31, 12, 1999}, 28},
      {"year 1000 stays", "0 1 1 1000 0 1 1 1000", {0, 1, 1, 1000}, {0, 1, 1, 1000}, 28},
      // Divisible by 100: February has 28 days, so 29 February 2000 becomes the 28th.
      {"end year 2000", "0 29 2 2000 0 31 12 2000", {0, 28, 2, 2000}, {0, 31, 12, 2000}, 28},
      // February follows the end year only.
      {"leap start, common end", "0 29 2 2004 0 1 1 2005", {0, 28, 2, 2004}, {0, 1, 1, 2005}, 28},
      {"leap start, leap end", "0 29 2 2004 0 1 1 2008", {0, 29, 2, 2004}, {0, 1, 1, 2008}, 29},
      {"months out of range", "0 5 0 2001 0 5 13 2001", {0, 5, 1, 2001}, {0, 5, 12, 2001}, 28},
      {"days out of range", "0 31 4 2001 0 0 6 2001", {0, 30, 4, 2001}, {0, 1, 6, 2001}, 28},
      {"hours are not corrected", "25 1 1 2001 -3 1 1 2001", {25, 1, 1, 2001}, {-3, 1, 1, 2001},
       28},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    std::string text = "[model_time]\n";
    for (char& c : std::string(r.values)) text += c == ' ' ? '\n' : c;
    settings_fixture f(text + "\n");
    ASSERT_EQ(f.with_open_file([](defaultini& d) { d.read_model_time(); }), 0);
    const defaultini& d = *f.settings;
    EXPECT_EQ(d.start_hour_value(), r.start[0]);
    EXPECT_EQ(d.start_day_value(), r.start[1]);
    EXPECT_EQ(d.start_month_value(), r.start[2]);
    EXPECT_EQ(d.start_year_value(), r.start[3]);
    const settings_context& exported = f.settings->export_settings();
    EXPECT_EQ(exported.end_date.hour, r.end[0]);
    EXPECT_EQ(exported.end_date.day, r.end[1]);
    EXPECT_EQ(exported.end_date.month, r.end[2]);
    EXPECT_EQ(exported.end_date.year, r.end[3]);
    EXPECT_EQ(d.february_days(), r.february);
  }
}

TEST(DefaultiniModelTime, MissingOrUnreadableValuesAreCode17) {
  struct row {
    const char* name;
    std::string control;
    std::string message;
  };
  const std::vector<row> rows = {
      {"no section", "[other]\n", "error in control file, [model_time]; (EOF)not found!"},
      {"end day not a number", "[model_time]\n0\n1\n1\n2001\n0\nlast\n",
       "error in control file, and day in ; defaultsnot found!"},
      {"end year missing", "[model_time]\n0\n1\n1\n2001\n0\n1\n1\n",
       "error in control file, end year in ; defaultsnot found!"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    settings_fixture f(r.control);
    EXPECT_EQ(f.with_open_file([](defaultini& d) { d.read_model_time(); }), 17);
    EXPECT_TRUE(f.logged(r.message)) << f.cap.console();
  }
}

TEST(DefaultiniStandardGrids, KeysOfAStandardGridLine) {
  struct row {
    const char* name;
    std::string keys;
    bool fillcode_named;
    standard_grid_line expected;
  };
  auto line = [](auto change) {
    standard_grid_line g;
    g.file_name = "soil.asc";
    g.output_name = "soil.asc";
    change(g);
    return g;
  };
  const std::vector<row> rows = {
      {"no keys", "", false, line([](standard_grid_line&) {})},
      {"fillcode without blanks", " fillcode=2", true,
       line([](standard_grid_line& g) { g.fill_code = 2; })},
      {"all keys in another order", " statcode = 2001 writecode = 12 fillcode = 1 readcode = 0 "
       "defaultValue = 0.5 statfile = soil.sta outname = out.asc", true,
       line([](standard_grid_line& g) {
         g.fill_code = 1;
         g.read_code = 0;
         g.default_value = 0.5;
         g.write_code = 12;
         g.output_name = "out.asc";
         g.has_statistics = true;
         g.statistics_file = "soil.sta";
         g.statistics_code = 2001;
       })},
      {"periodicity without persistent", " fillcode = 0 periodicity = 1 M 1", true,
       line([](standard_grid_line& g) {
         g.period_count = 1;
         g.period_unit = "M";
         g.step_number = 1;
       })},
      {"periodicity with persistent", " fillcode = 0 periodicity = 3 D 2 persistent = 0 24", true,
       line([](standard_grid_line& g) {
         g.period_count = 3;
         g.period_unit = "D";
         g.step_number = 2;
         g.persistent = false;
         g.duration = 24;
       })},
      {"persistent without periodicity is ignored", " fillcode = 0 persistent = 0 24", true,
       line([](standard_grid_line&) {})},
      {"unreadable values keep their defaults", " fillcode = x readcode = y writecode =", true,
       line([](standard_grid_line&) {})},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    standard_grid_line g;
    g.file_name = "soil.asc";
    EXPECT_EQ(parse_standard_grid_keys(r.keys, g), r.fillcode_named);
    const standard_grid_line& e = r.expected;
    EXPECT_EQ(g.fill_code, e.fill_code);
    EXPECT_EQ(g.read_code, e.read_code);
    EXPECT_EQ(g.default_value, e.default_value);
    EXPECT_EQ(g.write_code, e.write_code);
    EXPECT_EQ(g.output_name, e.output_name);
    EXPECT_EQ(g.has_statistics, e.has_statistics);
    EXPECT_EQ(g.statistics_file, e.statistics_file);
    EXPECT_EQ(g.statistics_code, e.statistics_code);
    EXPECT_EQ(g.period_count, e.period_count);
    EXPECT_EQ(g.period_unit, e.period_unit);
    EXPECT_EQ(g.step_number, e.step_number);
    EXPECT_EQ(g.persistent, e.persistent);
    EXPECT_EQ(g.duration, e.duration);
  }
}

TEST(DefaultiniStandardGrids, EntriesOfTheGridStore) {
  settings_fixture f(
      "[zone_grid]\nzones.asc\n[elevation_model]\ndem.asc\n[standard_grids]\n3\n"
      "soil.asc soil_types 1 readcode = 0\n"
      "lu.asc landuse fillcode=2 writecode = 8 outname = lu_out.asc\n"
      "ice.asc ice_firn statcode = 2001 fillcode = 0\n");
  ASSERT_EQ(f.with_open_file([](defaultini& d) { d.read_standard_grids(); }), 0);
  const grid_store& s = f.store;
  EXPECT_EQ(*s[1].file_name, "zones.asc");
  EXPECT_EQ(*s[1].grid_name, "[zone_grid]");
  EXPECT_EQ(*s[2].file_name, "dem.asc");
  EXPECT_EQ(*s[2].grid_name, "[elevation_model]");
  EXPECT_EQ(s[2].standard.read_code, 1);  // the elevation model is read from its file
  EXPECT_EQ(f.settings->registered_grid_count(), 3);
  // Old form with an extra key.
  EXPECT_EQ(*s[3].grid_name, "soil_types");
  EXPECT_EQ(s[3].standard.fill_code, 1);
  EXPECT_EQ(s[3].standard.read_code, 0);
  EXPECT_EQ(*s[3].first_file_name, "soil.asc");
  // Key form: outname changes the output name only.
  EXPECT_EQ(*s[4].file_name, "lu.asc");
  EXPECT_EQ(*s[4].first_file_name, "lu_out.asc");
  EXPECT_EQ(s[4].standard.fill_code, 2);
  EXPECT_EQ(s[4].standard.write_code_as_read, 8);
  // A statistics code without a statistics file gives no statistics.
  EXPECT_EQ(s[5].standard.statistics_code, 2001);
  EXPECT_TRUE(s[5].standard.statistics_file_name.empty());
  EXPECT_EQ(s[5].standard.period_count, -1);
  EXPECT_EQ(s[5].standard.persistent, 1);
  EXPECT_EQ(s[5].standard.last_watched, 9999);
  EXPECT_TRUE(s[6].file_name == std::nullopt);  // nothing registered beyond the count
}

TEST(DefaultiniStandardGrids, BrokenDefinitionsAreCode17) {
  struct row {
    const char* name;
    std::string control;
    std::string message;
  };
  const std::string fixed = "[zone_grid]\nzones.asc\n[elevation_model]\ndem.asc\n";
  const std::vector<row> rows = {
      {"no zone grid", "[elevation_model]\ndem.asc\n",
       "error in control file, [zone_grid]; (EOF)not found!"},
      {"no elevation model", "[zone_grid]\nzones.asc\n[standard_grids]\n0\n",
       "error in control file, [elevation_model]; (EOF)not found!"},
      {"zone grid file name missing", "[zone_grid]\n",
       "error in control file,  Name for ; defaultsnot found!"},
      {"no standard grids", fixed, "error in control file, [standard_grids]; (EOF)not found!"},
      {"count not a number", fixed + "[standard_grids]\nthree\n",
       "error in control file, couner/number of grids ; defaultsnot found!"},
      {"a line with one word", fixed + "[standard_grids]\n1\nsoil.asc\n",
       "error in control file, \nerror reading a grid name or identifier 1 in\n; defaultsnot "
       "found!"},
      {"key form without fillcode", fixed + "[standard_grids]\n2\na.asc a 0\nb.asc b readcode = 0\n",
       "\nerror reading the fillcode for standard grid 2 (found neither in old nor in new style "
       "standard grid definition) in\n; defaultsnot found!"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    settings_fixture f(r.control);
    EXPECT_EQ(f.with_open_file([](defaultini& d) { d.read_standard_grids(); }), 17);
    EXPECT_TRUE(f.logged(r.message)) << f.cap.console();
  }
}

TEST(DefaultiniStandardGrids, MoreGridsThanTheStoreHoldsAreCode12) {
  // Entries 3 to 999 hold 997 standard grids; one more does not fit.
  const std::string fixed = "[zone_grid]\nzones.asc\n[elevation_model]\ndem.asc\n";
  for (int count : {997, 998}) {
    SCOPED_TRACE(count);
    std::string lines;
    for (int i = 1; i <= count; ++i) lines += "g.asc g" + std::to_string(i) + " 0\n";
    settings_fixture f(fixed + "[standard_grids]\n" + std::to_string(count) + "\n" + lines);
    const int code = f.with_open_file([](defaultini& d) { d.read_standard_grids(); });
    EXPECT_EQ(code, count == 997 ? 0 : 12);
    if (code == 12) {
      EXPECT_TRUE(f.logged("no free grid in memory,(max. 1000)!"));
    }
  }
}

TEST(DefaultiniSubsteps, SectionIsOptionalButMustHoldANumber) {
  struct row {
    const char* name;
    std::string control;
    int code;
    int substeps;
  };
  const std::vector<row> rows = {
      {"absent section gives 1", "[other]\n4\n", 0, 1},
      {"count given", "[soil_surface_groundwater_substeps]\n4\n", 0, 4},
      {"count not a number", "[soil_surface_groundwater_substeps]\nfour\n", 17, 1},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    settings_fixture f(r.control);
    int substeps = 0;
    EXPECT_EQ(settings_fixture::code_of([&] { substeps = f.settings->read_substeps(); }), r.code);
    if (r.code == 0) {
      EXPECT_EQ(substeps, r.substeps);
    }
    if (r.code != 0) {
      EXPECT_TRUE(f.logged("error in control file, sub step counter from "
                           "[soil_surface_groundwater_substeps] not found; not found!"));
    }
  }
}
