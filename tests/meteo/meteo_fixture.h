// What the interpolator tests share: a captured diagnostics stream, a scratch
// directory for the control file, station files and outputs, a grid store
// holding the grids the settings publish ("zonegrid", "RelCellArea",
// "CoordX", "CoordY") and a settings context for a grid of 2 rows of 3
// cells of 100 m with one zone, running from 1.1.2001 0 h to 1.1.2001 5 h.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "meteo/meteoint.h"
#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "modelbase/settings_context.h"
#include "support/test_support.h"

// An interpolator released and deleted as the application does.
struct release_input {
  void operator()(meteointerpol* input) const {
    input->release();
    delete input;
  }
};
using input_ptr = std::unique_ptr<meteointerpol, release_input>;

struct meteo_fixture {
  static constexpr int COLS = 3;
  static constexpr int ROWS = 2;
  static constexpr double CELL = 100;   // [m]
  static constexpr double XLL = 1000;   // [m]
  static constexpr double YLL = 2000;   // [m]

  explicit meteo_fixture(bool with_rel_cell_area = true) {
    out_dir = cd.dir.path() + "/";
    ctx.control_file = cd.dir.file("control.$$$");
    ctx.output_directory = &out_dir;
    ctx.ncols = COLS;
    ctx.nrows = ROWS;
    ctx.first_row = 1;
    ctx.last_row = ROWS;
    ctx.xllcorner = XLL;
    ctx.yllcorner = YLL;
    ctx.cellsize = CELL;
    ctx.zone_table.zone_index = &zone_index;
    ctx.zone_table.zones = &zones;
    ctx.zone_table.zone_count = 1;
    ctx.zone_table.max_zone_code = 1;
    ctx.strips = &strips;
    ctx.start_date = model_date{2001, 1, 1, 0};
    ctx.end_date = model_date{2001, 1, 1, 5};
    ctx.output_control = 1;
    zones[1].code = 1;
    zones[1].share = 1;

    zone_grid = grids.matrix(1, ROWS, 1, COLS, ROWS);
    rel_area = grids.matrix(1, ROWS, 1, COLS, ROWS);
    coord_x = grids.matrix(1, ROWS, 1, COLS, ROWS);
    coord_y = grids.matrix(1, ROWS, 1, COLS, ROWS);
    for (int r = 1; r <= ROWS; ++r)
      for (int c = 1; c <= COLS; ++c) {
        zone_grid[r][c] = 1;
        rel_area[r][c] = 1;
        coord_x[r][c] = XLL + (c - 1) * CELL;
        coord_y[r][c] = YLL + (ROWS - r) * CELL;
      }
    publish(1, "zonegrid", "zones.asc", &zone_grid);
    if (with_rel_cell_area) publish(2, "RelCellArea", "rca.asc", &rel_area);
    publish(with_rel_cell_area ? 3 : 2, "CoordX", "cx.asc", &coord_x);
    publish(with_rel_cell_area ? 4 : 3, "CoordY", "cy.asc", &coord_y);
  }

  void publish(int index, const std::string& grid_name, const std::string& file,
               grid_matrix* grid) {
    store[index].grid = grid;
    store[index].grid_name = grid_name;
    store[index].file_name = file;
  }
  // The first entry without a grid name: where the application puts the
  // result grid.
  int free_entry() const {
    int i = 1;
    while (store[i].grid_name) ++i;
    return i;
  }

  std::string path(const std::string& name) const { return cd.dir.file(name); }
  void write(const std::string& name, const std::string& text) const { cd.dir.write(name, text); }
  void write_control(const std::string& text) const { write("control.$$$", text); }
  std::string console() const { return cd.console(); }
  // The level of the first entry of the diagnostics file that holds piece,
  // -1 when none does. Closes the stream: call it last.
  int level_of_entry(const std::string& piece) {
    const std::string xml = cd.xml();
    const size_t at = xml.find(escape_diag_text(piece));
    if (at == std::string::npos) return -1;
    const std::string head = "\t<line level=\"";
    const size_t line = xml.rfind(head, at);
    return line == std::string::npos ? -1 : xml[line + head.size()] - '0';
  }

  // Builds the interpolator of input name; status receives the constructor's.
  input_ptr build(const std::string& name, int& status) {
    status = -1;
    return input_ptr(new meteointerpol(status, cd.diag.get(), &registry, STATISTICS_REGISTRY_SIZE,
                                       name, &store, ctx, free_entry()));
  }

  captured_diag cd;
  std::string out_dir;
  grid_store store;
  statistics_registry registry;
  settings_context ctx;
  std::vector<int> zone_index{0, 1};
  std::vector<zone_record> zones = std::vector<zone_record>(2);
  std::vector<row_strip> strips{row_strip{0, -1}, row_strip{1, COLS}, row_strip{1, COLS}};
  memory_handling grids;
  grid_matrix zone_grid;
  grid_matrix rel_area;
  grid_matrix coord_x;
  grid_matrix coord_y;
};

// The lines of a section after its method and file lines: result grid,
// write code, scaling, statistics, nodata, IDW weight, fraction, maximum
// distance, anisotropy slope and ratio, the four limits, scenario switch 0.
struct section_tail {
  std::string result = "result.asc";
  int write_code = 0;
  std::string statistics = "stat.txt 0";
  double nodata = 9999;
  double weight = 2;
  double max_distance = 5000;
  double slope = 0;
  double ratio = 1;
  std::string scenario = "0";  // "SzenUse" and what follows it

  std::string text() const {
    auto number = [](double v) {
      char b[64];
      std::snprintf(b, sizeof b, "%.17g", v);
      return std::string(b);
    };
    return result + " name of the result grid in\n" + std::to_string(write_code) +
           " grid write code for result grid in\n1.0 scaling factor for\n" + statistics +
           " name of the statistic result file in\n" + number(nodata) + " nodata value in\n" +
           number(weight) + " idw-weight in\n0.5 fraction of idw\n" + number(max_distance) +
           " maximum distance in\n" + number(slope) + " slope of the main axis\n" +
           number(ratio) +
           " anisotropy b/a in\n-100 lower limit\n-90 upper limit\n100 lower replacement\n90 upper "
           "replacement\n" +
           scenario + " SzenUse in\n";
  }
};

// A station file with the given header lines 2-4 body (after the four date
// labels) and data rows.
inline std::string station_file_text(const std::string& altitudes, const std::string& xs,
                                     const std::string& ys, const std::string& rows,
                                     const std::string& labels = "YY MM DD HH") {
  return "station data\n" + labels + " " + altitudes + "\n" + labels + " " + xs + "\n" + labels +
         " " + ys + "\n" + labels + " names\n" + rows;
}
