// The interpolator's section and set-up: one table of sections, each built
// into an interpolator over the small fixture grid, with the status, the
// entry and what the set-up stored, published and wrote.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "meteo/meteo_fixture.h"
#include "meteo/meteoint_geometry.h"
#include "modelbase/diagstream.h"

namespace {

const std::string STATIONS = station_file_text(
    "400 520 610", "1000 1100 1000", "2000 2000 2100",
    "2001 1 1 0 1 2 3\n2001 1 1 1 4 5 6\n2001 1 1 2 7 8 9\n2001 1 1 3 1 1 1\n"
    "2001 1 1 4 2 2 2\n2001 1 1 5 3 3 3\n");
const std::string GRID_LIST = station_file_text(
    "250", "1000", "2000", "2001 1 1 0 a.gif\n2001 1 1 1 -9999\n2001 1 1 2 b.gif\n");
const std::string REGRESSION =
    "jr mo regression sets\n2001 1 1 0 1 2 3 4 5 6 7 8 9 10 11\n"
    "2001 1 1 1 1 2 3 4 5 6 7 8 9 10 11\n2001 1 1 2 1 2 3 4 5 6 7 8 9 10 11\n";

// "$D/" stands for the scratch directory.
std::string in_dir(const meteo_fixture& f, std::string text) {
  for (size_t at = text.find("$D/"); at != std::string::npos; at = text.find("$D/"))
    text.replace(at, 3, f.path(""));
  return text;
}

// The second header line of a statistics file.
std::string header_name_line(const std::string& path) {
  const std::string text = read_file(path);
  const size_t first = text.find('\n');
  if (first == std::string::npos) return "";
  return text.substr(first + 1, text.find('\n', first + 1) - first - 1);
}

using check_fn = std::function<void(const meteo_fixture&, const meteointerpol&)>;

struct section_case {
  const char* label;
  std::string input_name;
  std::string body;  // the section from its method line on
  int status;
  const char* entry;  // a piece of the console, "" for none
  check_fn check;
  bool rel_cell_area = true;
};

section_tail tail_with(const std::function<void(section_tail&)>& change) {
  section_tail t;
  change(t);
  return t;
}

std::string station_method(int method, const std::string& tail) {
  return std::to_string(method) + " method\n$D/st.txt\n$D/reg.txt name of the regression file\n" +
         tail;
}

const section_tail PLAIN;

TEST(MeteoSection, SectionsAndWhatTheSetUpMakesOfThem) {
  const section_case cases[] = {
      {"method 0", "temperature", "0 method\n$D/st.txt\n" + PLAIN.text(), 53,
       "error! interpolation method has to range from 1..12 (here: 0)\n", nullptr},
      {"method 13", "temperature", "13 method\n$D/st.txt\n" + PLAIN.text(), 53,
       "error! interpolation method has to range from 1..12 (here: 13)\n", nullptr},
      {"slope 90 with a ratio below 1: rotated coordinates", "temperature",
       station_method(1, tail_with([](section_tail& t) {
                           t.slope = 90;
                           t.ratio = 0.5;
                         }).text()),
       0, "",
       [](const meteo_fixture& f, const meteointerpol& in) {
         EXPECT_EQ(in.section().anisotropy_slope, HALF_PI);
         ASSERT_GT(in.rotated_x_entry(), 0);
         ASSERT_GT(in.rotated_y_entry(), 0);
         EXPECT_EQ(f.store[in.rotated_x_entry()].grid_name, "CoordXRot_temperature");
         EXPECT_EQ(f.store[in.rotated_y_entry()].grid_name, "CoordYRot_temperature");
         // A quarter turn about the lower-left corner: (dx, dy) -> (dy, -dx).
         const grid_matrix& rx = *f.store[in.rotated_x_entry()].grid;
         const grid_matrix& ry = *f.store[in.rotated_y_entry()].grid;
         for (int r = 1; r <= meteo_fixture::ROWS; ++r)
           for (int c = 1; c <= meteo_fixture::COLS; ++c) {
             const double dx = (c - 1) * meteo_fixture::CELL;
             const double dy = (meteo_fixture::ROWS - r) * meteo_fixture::CELL;
             EXPECT_NEAR(rx[r][c], meteo_fixture::XLL + dy, 1e-9);
             EXPECT_NEAR(ry[r][c], meteo_fixture::YLL - dx, 1e-9);
           }
         // Station 3 lies 100 m north of the corner: it turns 100 m east.
         EXPECT_NEAR(in.station(0).x_rotated[3], meteo_fixture::XLL + 100, 1e-9);
         EXPECT_NEAR(in.station(0).y_rotated[3], meteo_fixture::YLL, 1e-9);
         EXPECT_NEAR(in.station(0).radius[3], 100, 1e-9);
       }},
      {"slope -90", "temperature", station_method(1, tail_with([](section_tail& t) {
                                                     t.slope = -90;
                                                   }).text()),
       0, "",
       [](const meteo_fixture&, const meteointerpol& in) {
         EXPECT_EQ(in.section().anisotropy_slope, -HALF_PI);
       }},
      {"slope 91", "temperature", station_method(1, tail_with([](section_tail& t) {
                                                    t.slope = 91;
                                                  }).text()),
       54, "anisotropy slope has to range from -90 to +90 degree \n", nullptr},
      {"ratio 0", "temperature", station_method(1, tail_with([](section_tail& t) {
                                                   t.ratio = 0;
                                                 }).text()),
       54, "ratio of anisotropy has to range from +1 to >0 liegen", nullptr},
      {"ratio 1.2", "temperature", station_method(1, tail_with([](section_tail& t) {
                                                     t.ratio = 1.2;
                                                   }).text()),
       54, "ratio of anisotropy has to range from +1 to >0 liegen", nullptr},
      {"ratio 1: no rotated grids, the station coordinates themselves", "temperature",
       station_method(1, PLAIN.text()), 0, "",
       [](const meteo_fixture& f, const meteointerpol& in) {
         EXPECT_EQ(in.rotated_x_entry(), -1);
         EXPECT_EQ(in.rotated_y_entry(), -1);
         for (int i = 1; i < 1000; ++i)
           EXPECT_NE(f.store[i].grid_name.value_or(""), "CoordXRot_temperature");
         EXPECT_EQ(in.station(0).x_rotated, in.station(0).x);
         EXPECT_EQ(in.station(0).y_rotated, in.station(0).y);
         // Stations (1000,2000), (1100,2000), (1000,2100): station 1 has
         // station 2 east and station 3 north at 100 m; station 3 has
         // station 2 at 45 degrees, which counts as east; station 2 none.
         EXPECT_DOUBLE_EQ(in.average_x_distance(), (100 + std::sqrt(2.0) * 100) / 2);
         EXPECT_DOUBLE_EQ(in.average_y_distance(), 100);
         // The result grid: under the input's name, every cell nodata.
         const grid_entry& e = f.store[in.result_store_entry()];
         EXPECT_EQ(e.grid_name, "temperature");
         EXPECT_EQ(e.file_name, "result.asc");
         for (int r = 1; r <= meteo_fixture::ROWS; ++r)
           for (int c = 1; c <= meteo_fixture::COLS; ++c) EXPECT_EQ((*e.grid)[r][c], NODATA);
       }},
      {"short GIF line", "temperature", "9 method\n$D/list.txt\n1 2 3 4\n" + PLAIN.text(), 49,
       "error reading the required 5 GIF-Mapping parameters f1 (default=8.916787e-5), x1 "
       "(0.0767528404), threshold (127), f2 (default=6.00e-006), x2 (0.098) for interpolation "
       "of temperature",
       nullptr},
      {"short EDR line", "temperature", "10 method\n$D/st.txt\n100 900 0.5 2\n" + PLAIN.text(), 49,
       "error reading the required 5 or 6 regression parameters <lower inversion> <upper "
       "inversion> <tolerance> <overlap> <clusterrange> [<lapse rate above upper inversion>] for "
       "interpolation of temperature",
       nullptr},
      {"EDR line of five values", "temperature",
       "11 method\n$D/st.txt\n100 900 0.5 2 5000\n" + PLAIN.text(), 0, "",
       [](const meteo_fixture&, const meteointerpol& in) {
         EXPECT_EQ(in.section().elevation.upper_inversion, 900);
         EXPECT_EQ(in.section().elevation.overlap, 2);
         EXPECT_EQ(in.section().elevation.upper_lapse_rate, -9999);
       }},
      {"empty lapse-rate line", "temperature", "12 method\n$D/st.txt\n\n" + PLAIN.text(), 49,
       "error reading the required parameter \"lapse rate\" and/or optional parameters "
       "inversion_hight and fix upper lapse rate for interpolation of temperature",
       nullptr},
      {"lapse-rate line of two values", "temperature",
       "12 method\n$D/st.txt\n-0.0065 1200\n" + PLAIN.text(), 49,
       "error reading the required parameter \"lapse rate\"", nullptr},
      {"lapse rate with P-type", "temperature",
       "12 method\n$D/st.txt\n-0.0065 1200 -0.004 P-type\n" + PLAIN.text(), 0, "",
       [](const meteo_fixture&, const meteointerpol& in) {
         EXPECT_EQ(in.section().lapse.p_type, 1);
         EXPECT_EQ(in.section().lapse.inversion_height, 1200);
       }},
      {"lapse rate alone", "temperature", "12 method\n$D/st.txt\n-0.0065\n" + PLAIN.text(), 0, "",
       [](const meteo_fixture&, const meteointerpol& in) {
         EXPECT_EQ(in.section().lapse.lapse_rate, -0.0065);
         EXPECT_EQ(in.section().lapse.inversion_height, -9999);
         EXPECT_EQ(in.section().lapse.fixed_upper_lapse_rate, -9999);
         EXPECT_EQ(in.section().lapse.p_type, 0);
       }},
      {"station file missing", "temperature",
       "1 method\n$D/missing.txt\n$D/reg.txt name of the regression file\n" + PLAIN.text(), 49,
       "\nerror opening ", [](const meteo_fixture& f, const meteointerpol&) {
         EXPECT_NE(f.console().find("error opening " + f.path("missing.txt")), std::string::npos);
       }},
      {"station-file line without a word", "temperature", "1 method\n   \n" + PLAIN.text(), 49,
       "error reading station data file name nr. 0 for interpolation of temperature", nullptr},
      {"method 6 needs two station-file lines", "temperature",
       "6 method\n$D/st.txt\n\n$D/reg.txt name of the regression file\n" + PLAIN.text(), 49,
       "error reading station data file name nr. 1", nullptr},
      {"scenario switch 0 ends the section", "temperature",
       station_method(1, tail_with([](section_tail& t) {
                           t.scenario = "0\nnot a number SzenMeth in";
                         }).text()),
       0, "",
       [](const meteo_fixture&, const meteointerpol& in) {
         EXPECT_EQ(in.section().scenario_switch, 0);
         EXPECT_EQ(in.section().scenario_method, 0);
         EXPECT_TRUE(in.section().scenario_points.empty());
       }},
      {"scenario method 3: percentages", "temperature",
       station_method(1, tail_with([](section_tail& t) {
                           t.scenario =
                               "1\n3 SzenMeth in\n2 SzenNum in\n"
                               "100 200 10 20 30 40 50 60 70 80 90 100 110 -50 rest\n"
                               "300 400 0 0 0 0 0 0 0 0 0 0 0 0";
                         }).text()),
       0, "",
       [](const meteo_fixture&, const meteointerpol& in) {
         const auto& p = in.section().scenario_points;
         ASSERT_EQ(p.size(), 3u);
         EXPECT_EQ(p[1][1], 100);
         EXPECT_EQ(p[1][2], 200);
         EXPECT_DOUBLE_EQ(p[1][3], 1.1);
         EXPECT_DOUBLE_EQ(p[1][14], 0.5);
         EXPECT_EQ(p[2][1], 300);
         EXPECT_EQ(p[2][3], 1.0);
       }},
      {"scenario number unreadable", "temperature",
       station_method(1, tail_with([](section_tail& t) {
                           t.scenario =
                               "1\n3 SzenMeth in\n1 SzenNum in\n"
                               "100 200 10 x 30 40 50 60 70 80 90 100 110 -50";
                         }).text()),
       48, "error! scenario-data row 1, column 4 in temperature: read error!", nullptr},
      {"scenario grid name missing", "temperature",
       station_method(1, tail_with([](section_tail& t) {
                           t.scenario = "1\n5 SzenMeth in\njan.asc\nfeb.asc\n[next_section]";
                         }).text()),
       17, "error in control file: scenario grid for month 3 in temperature not found!",
       nullptr},
      {"no RelCellArea: before any file is read", "temperature", station_method(1, PLAIN.text()),
       74,
       "\n-----------------------------------------------------------\nVelmo-Orv no longer works "
       "without a RelCellArea-Grid.",
       [](const meteo_fixture& f, const meteointerpol&) {
         EXPECT_EQ(f.console().find("reading station description"), std::string::npos);
         EXPECT_EQ(f.console().find("looking for starting date"), std::string::npos);
       },
       false},
      {"weight 2: maximum distance squared, printed as read", "temperature",
       station_method(1, tail_with([](section_tail& t) {
                           t.statistics = "t.sta 2001";
                         }).text()),
       0, "",
       [](const meteo_fixture& f, const meteointerpol& in) {
         EXPECT_EQ(in.section().max_distance, 25e6);
         EXPECT_EQ(in.section().max_distance_read, 5000);
         EXPECT_EQ(in.section().weight_code, 2000);
         EXPECT_EQ(header_name_line(f.path("t.sta")),
                   "temperature interpolated with idw from " + f.path("st.txt") +
                       ", zones from zones.asc, weighting =  2.0,  maxentf =     5000, control "
                       "file " +
                       f.ctx.control_file + ", additional columns: 0_submodel:");
       }},
      {"weight 2.0005: the same radius as 2", "temperature",
       station_method(1, tail_with([](section_tail& t) { t.weight = 2.0005; }).text()), 0, "",
       [](const meteo_fixture&, const meteointerpol& in) {
         EXPECT_EQ(in.section().weight_code, 2000);
         EXPECT_EQ(in.section().max_distance, 25e6);
       }},
      {"weight 1: the distance as read", "temperature",
       station_method(1, tail_with([](section_tail& t) { t.weight = 1; }).text()), 0, "",
       [](const meteo_fixture&, const meteointerpol& in) {
         EXPECT_EQ(in.section().weight_code, 1000);
         EXPECT_EQ(in.section().max_distance, 5000);
       }},
      {"method 2: no stations, no rotated grids", "temperature",
       "2 method\n$D/reg.txt\n$D/reg.txt name of the regression file\n" +
           tail_with([](section_tail& t) {
             t.ratio = 0.5;
             t.statistics = "t.sta 2001";
           }).text(),
       0, "",
       [](const meteo_fixture& f, const meteointerpol& in) {
         EXPECT_EQ(in.average_x_distance(), -9999);
         EXPECT_EQ(in.average_y_distance(), -9999);
         EXPECT_EQ(in.rotated_x_entry(), -1);
         EXPECT_EQ(in.station_file_count(), 0);
         EXPECT_EQ(header_name_line(f.path("t.sta")),
                   "temperature interpolated with regression from  " + f.path("reg.txt") +
                       ", zones from zones.asc, control file: " + f.ctx.control_file +
                       "_submodel:");
       }},
      {"method 9: no stations", "temperature",
       "9 method\n$D/list.txt AdditionalColumns=0\n8.9e-5 0.0767 127 6e-6 0.098\n" +
           tail_with([](section_tail& t) {
             t.ratio = 0.5;
             t.statistics = "t.sta 2001";
           }).text(),
       0, "",
       [](const meteo_fixture& f, const meteointerpol& in) {
         EXPECT_EQ(in.average_x_distance(), -9999);
         EXPECT_EQ(in.average_y_distance(), -9999);
         EXPECT_EQ(in.rotated_x_entry(), -1);
         EXPECT_EQ(in.section().gif.threshold, 127);
         EXPECT_EQ(header_name_line(f.path("t.sta")),
                   "temperature read in from grids containing already interpolated data (" +
                       f.path("list.txt") + ", add. col.: 0) zones from zones.asc, control file " +
                       f.ctx.control_file + "_submodel:");
       }},
      {"two-word input name: the section and grid of the first word", "precipitation  rest",
       station_method(4, PLAIN.text()), 0, "",
       [](const meteo_fixture& f, const meteointerpol& in) {
         EXPECT_EQ(in.object_name(), "precipitation");
         EXPECT_EQ(f.store[in.result_store_entry()].grid_name, "precipitation");
       }},
  };
  for (const section_case& c : cases) {
    SCOPED_TRACE(c.label);
    meteo_fixture f(c.rel_cell_area);
    f.write("st.txt", STATIONS);
    f.write("list.txt", GRID_LIST);
    f.write("reg.txt", REGRESSION);
    const std::string head = c.input_name.substr(0, c.input_name.find(' '));
    f.write_control("[other]\n1\n[" + head + "]\n" + in_dir(f, c.body) + "[next]\n");
    int status = -1;
    input_ptr input = f.build(c.input_name, status);
    EXPECT_EQ(status, c.status) << f.console();
    if (c.entry[0] != '\0') {
      EXPECT_NE(f.console().find(c.entry), std::string::npos) << f.console();
    }
    if (c.check) c.check(f, *input);
  }
}

// A named input is set up once and interpolates its first step: the cell at
// station 1 weighs it 1 and the two stations 100 m away 1e-4 each.
TEST(MeteoSection, NamedInputInterpolatesItsFirstStep) {
  meteo_fixture f;
  grid_matrix regions = f.grids.matrix(1, meteo_fixture::ROWS, 1, meteo_fixture::COLS,
                                       meteo_fixture::ROWS);
  for (int r = 1; r <= meteo_fixture::ROWS; ++r)
    for (int c = 1; c <= meteo_fixture::COLS; ++c) regions[r][c] = 0;
  f.publish(5, "MPIRegions", "regions.asc", &regions);
  f.write("st.txt", STATIONS);
  f.write_control("[temperature]\n" + in_dir(f, station_method(1, PLAIN.text())));
  int status = -1;
  input_ptr input = f.build("temperature", status);
  ASSERT_EQ(status, 0) << f.console();
  EXPECT_EQ(input->object_name(), "temperature");
  // The set-up stands on the start row: there is a record to go to.
  EXPECT_EQ(input->is_end_of_data(), 0);
  int code = 0;
  try {
    input->interpolate(0, 1, 1, 2001);
  } catch (int thrown) {
    code = thrown;
  }
  EXPECT_EQ(code, 0);
  const std::string out = f.console();
  size_t banners = 0;
  for (size_t at = out.find("file meteoint, compiled at "); at != std::string::npos;
       at = out.find("file meteoint, compiled at ", at + 1))
    ++banners;
  EXPECT_EQ(banners, 1u);
  EXPECT_NE(out.find("initializing interpolator for temperature"), std::string::npos);
  EXPECT_EQ(out.find("is not built yet"), std::string::npos) << out;
  EXPECT_NEAR(input->result()[2][1], (1 + 2e-4 + 3e-4) / 1.0002, 1e-12);
}

TEST(MeteoSection, ReleaseFreesTheObjectsStoreEntries) {
  meteo_fixture f;
  f.write("st.txt", STATIONS);
  f.write_control("[temperature]\n" + in_dir(f, station_method(1, tail_with([](section_tail& t) {
                                                                t.ratio = 0.5;
                                                              }).text())));
  int status = -1;
  input_ptr input = f.build("temperature", status);
  ASSERT_EQ(status, 0) << f.console();
  const int result = input->result_store_entry();
  const int rx = input->rotated_x_entry();
  const int ry = input->rotated_y_entry();
  EXPECT_EQ(f.store[result].grid_name, "temperature");
  input.reset();
  EXPECT_FALSE(f.store[result].grid_name.has_value());
  EXPECT_FALSE(f.store[rx].grid_name.has_value());
  EXPECT_FALSE(f.store[ry].grid_name.has_value());
  EXPECT_NE(f.console().find("deleting interpolator for temperature"), std::string::npos);
}

TEST(MeteoSection, ScenarioGridOfTheStartMonth) {
  meteo_fixture f;
  f.write("st.txt", STATIONS);
  std::string names;
  for (int m = 1; m <= 12; ++m) names += "$D/scen" + std::to_string(m) + ".asc\n";
  f.write("scen1.asc",
          "ncols 3\nnrows 2\nxllcorner 1000\nyllcorner 2000\ncellsize 100\nnodata_value -9999\n"
          "1 2 3\n4 5 6\n");
  f.write_control("[temperature]\n" +
                  in_dir(f, station_method(1, tail_with([&](section_tail& t) {
                                                t.scenario = "1\n5 SzenMeth in\n" + names;
                                              }).text())));
  int status = -1;
  input_ptr input = f.build("temperature", status);
  ASSERT_EQ(status, 0) << f.console();
  int index = 0;
  for (int i = 1; i < 1000 && index == 0; ++i)
    if (f.store[i].grid_name == "scenariogrid_temperature") index = i;
  ASSERT_GT(index, 0);
  EXPECT_EQ(f.store[index].units, 0);
  EXPECT_EQ(input->scenario_value(1, 1, 0, 0), 1);
  EXPECT_EQ(input->scenario_value(2, 3, 0, 0), 6);
}

}  // namespace
