// Lake coupling on a divided grid: a lake whose cells lie on several
// processes (and none on process 0 with three processes) is balanced on
// process 0 from the gathered ponding, transpiration and precipitation, and
// its ponding goes back to the owners. A second module, whose "MPIRegions"
// gives every cell to process 0, is the undivided reference: contents,
// "PrecOnLakes", the ponding of every lake cell and the reservoir file must
// be the same, bit for bit, on 1, 2, 3 and 4 processes, and so must the
// tracer concentration the lake hands back to every lake cell.
#include <gtest/gtest.h>
#include <mpi.h>

#include <sstream>

#include "routing/abfluss_fixture.h"
#include "settings/tracer_entry.h"

namespace {

constexpr int ROWS = 6;

bool lake_cell(int r, int c) { return r >= 3 && c <= 2; }

// The band of rows of process p among n.
void band_of(int p, int n, int& first, int& last) {
  first = 1 + p * ROWS / n;
  last = (p + 1) * ROWS / n;
}

struct lake_run {
  module_fixture f{ROWS};
  routing_zones zones{{1}, {1.0}, 0.18};
  memory_handling mem;
  grid_matrix regions, codes, ponding, maxpond, dem, etr, prec;
  stack_matrix conc;      // the lake cells' tracer storage, layer 1
  grid_matrix conc_grid;  // its entry's grid, as a stack entry has one
  tracer_entry tracers[2];
  std::unique_ptr<abflussmodellklasse> module;
  subbasin_flow_arrays qg = make_flow_arrays(1, 1);
  int status = -1;
  bool divided;
  int rank = world_rank();

  lake_run(bool divided_grid, const std::string& output) : divided(divided_grid) {
    zones.view.zone_index = &zones.index;
    zones.view.zones = &zones.records;
    f.settings.start_date = model_date{2000, 1, 1, 0};
    band_of(rank, world_size(), f.settings.first_row, f.settings.last_row);
    int index = 3;
    for (grid_matrix* g : {&regions, &codes, &ponding, &maxpond, &dem, &etr, &prec}) {
      *g = mem.matrix(0, ROWS + 1, 0, 3, ROWS);
      for (int r = 0; r <= ROWS + 1; ++r)
        for (int c = 0; c <= 3; ++c) (*g)[r][c] = 0;
    }
    for (int r = 1; r <= ROWS; ++r)
      for (int c = 1; c <= 3; ++c) {
        f.soil_zone_grid[r][c] = 1;
        int owner = 0;
        for (int p = 0; p < world_size(); ++p) {
          int a = 0, b = 0;
          band_of(p, world_size(), a, b);
          if (r >= a && r <= b) owner = p;
        }
        regions[r][c] = divided ? owner : 0;
        codes[r][c] = lake_cell(r, c) ? 1 : NODATA;
        dem[r][c] = lake_cell(r, c) ? 100 + 0.1 * c : 103;
        maxpond[r][c] = lake_cell(r, c) ? 2900 - 100 * c : 0;  // DEM + max ponding = 103
      }
    const char* names[] = {"MPIRegions", "lake_codes", "ponding_storage", "max_ponding_storage",
                           "[elevation_model]", "real_transpiration0", "precipitation"};
    grid_matrix* grids[] = {&regions, &codes, &ponding, &maxpond, &dem, &etr, &prec};
    for (size_t i = 0; i < 7; ++i) f.publish(index++, names[i], grids[i]);
    // Each lake cell starts with its own concentration, so the lake's mixed
    // value differs from every cell's.
    conc = mem.matrix_3d(0, ROWS + 1, 0, 3, 1, ROWS);
    for (int r = 0; r <= ROWS + 1; ++r)
      for (int c = 0; c <= 3; ++c) conc[r][c][0] = conc[r][c][1] = lake_cell(r, c) ? r + 2.0 * c : 0;
    conc_grid = mem.matrix(0, ROWS + 1, 0, 3, ROWS);
    f.store[index].stack = &conc;
    f.store[index].grid = &conc_grid;
    f.store[index].grid_name = "concstor_tracer_1_unsatzon_model";
    f.store[index].file_name = "conc.asc";
    tracers[1].name = "cl";
    tracers[1].statext = "cl";

    routing_section s;
    s.descriptions = {"TG 1 (A= 0.18, f= 1)",
                      "SP 1 (file = " + output + " V0 = 8000 C0 = 0 0 0 0 0 0 0 0 0)"};
    f.write_control(s.text() +
                    "[lake_model]\n1 flow control parameter for \n0\n0\n0\n0 readgrids for \n"
                    "[abstraction_rule_reservoir_1]\n2\n0 0\n3600000 100\n");
    module = std::make_unique<abflussmodellklasse>(status, f.diag(), nullptr, 0, "routing_model",
                                                   &f.store, f.settings, 1, tracers, zones.view, 0);
  }

  bool owns(int r) const { return divided ? r >= f.settings.first_row && r <= f.settings.last_row : rank == 0; }

  // What the other modules do on the owned lake cells before the routing.
  void rain(int step) {
    for (int r = 1; r <= ROWS; ++r)
      for (int c = 1; c <= 3; ++c) {
        if (!lake_cell(r, c) || !owns(r)) continue;
        prec[r][c] = 1 + (r * 3 + c + step) % 4;
        etr[r][c] = 0.5;
        ponding[r][c] += prec[r][c] - etr[r][c];
      }
  }

  // The ponding (or the tracer concentration) of every lake cell as its
  // owner holds it, at process 0.
  std::vector<double> ponding_at_owners(bool tracer = false) const {
    std::vector<double> mine(ROWS * 3, 0.0), all(ROWS * 3, 0.0);
    for (int r = 1; r <= ROWS; ++r)
      for (int c = 1; c <= 3; ++c)
        if (lake_cell(r, c) && owns(r))
          mine[static_cast<size_t>((r - 1) * 3 + c - 1)] = tracer ? conc[r][c][1] : ponding[r][c];
    MPI_Reduce(mine.data(), all.data(), ROWS * 3, MPI_DOUBLE, MPI_SUM, 0, MPI_COMM_WORLD);
    return all;
  }
};

std::vector<std::string> data_rows(const std::string& path) {
  std::istringstream in(read_file(path));
  std::vector<std::string> rows;
  for (std::string line; std::getline(in, line);)
    if (line.rfind("2000\t", 0) == 0) rows.push_back(line);
  return rows;
}

TEST(LakeCouplingMpi, DividedLakeGivesTheUndividedResults) {
  lake_run divided(true, "lake_divided.txt");
  lake_run whole(false, "lake_whole.txt");
  const int rank = world_rank();
  ASSERT_EQ(divided.status, 0) << divided.f.console();
  ASSERT_EQ(whole.status, 0) << whole.f.console();
  for (lake_run* run : {&divided, &whole}) {
    run->module->init_lake_links(0);
    run->module->set_qg(&run->qg);
    run->qg[0][1] = 2;
    run->module->init_routing();
  }
  // Lake cells per process: rows 3..6, two per row, in every process's band.
  const std::vector<int64_t>& counts = divided.module->get_lake_cells_per_rank();
  int64_t total = 0;
  for (int p = 0; p < world_size(); ++p) {
    int a = 0, b = 0;
    band_of(p, world_size(), a, b);
    int64_t expected = 0;
    for (int r = std::max(a, 3); r <= b; ++r) expected += 2;
    EXPECT_EQ(counts[static_cast<size_t>(p)], expected) << p;
    total += counts[static_cast<size_t>(p)];
  }
  EXPECT_EQ(total, 8);
  EXPECT_EQ(whole.module->get_lake_cells_per_rank()[0], 8);

  for (int step = 1; step <= 4; ++step) {
    divided.rain(step);
    whole.rain(step);
    divided.module->time_step(step, 1, 1, 2000);
    whole.module->time_step(step, 1, 1, 2000);
    if (rank == 0) {
      const SP_class& a = divided.module->reach(1).reservoir(1);
      const SP_class& b = whole.module->reach(1).reservoir(1);
      EXPECT_EQ(a.contents()[0], b.contents()[0]) << step;
      EXPECT_EQ(a.report().volume[SP_PREC], b.report().volume[SP_PREC]) << step;
      EXPECT_GT(a.report().volume[SP_PREC], 0);
      EXPECT_NEAR(a.report().volume[SP_ERR], 0, 1e-6 * a.contents()[0]) << step;
      const grid_matrix& pd = *divided.f.store[divided.module->find_grid("PrecOnLakes")].grid;
      const grid_matrix& pw = *whole.f.store[whole.module->find_grid("PrecOnLakes")].grid;
      for (int r = 1; r <= ROWS; ++r)
        for (int c = 1; c <= 2; ++c) {
          if (!lake_cell(r, c)) continue;
          EXPECT_EQ(pd[r][c], pw[r][c]) << r << "," << c;
        }
    }
    const std::vector<double> pond_d = divided.ponding_at_owners();
    const std::vector<double> pond_w = whole.ponding_at_owners();
    const std::vector<double> conc_d = divided.ponding_at_owners(true);
    const std::vector<double> conc_w = whole.ponding_at_owners(true);
    if (rank == 0) {
      for (size_t i = 0; i < pond_d.size(); ++i) EXPECT_EQ(pond_d[i], pond_w[i]) << i;
      for (size_t i = 0; i < conc_d.size(); ++i) EXPECT_EQ(conc_d[i], conc_w[i]) << i;
      // Every lake cell holds the lake's one concentration.
      EXPECT_EQ(conc_d[2 * 3], conc_d[5 * 3 + 1]);
      EXPECT_GT(conc_d[2 * 3], 0);
    }
  }
  divided.module->flush_outputs();
  whole.module->flush_outputs();
  if (rank == 0) {
    // Both write into the working folder, the last fixture's scratch folder.
    const std::vector<std::string> a = data_rows("lake_divided.txt");
    const std::vector<std::string> b = data_rows("lake_whole.txt");
    EXPECT_EQ(a.size(), 4u);
    EXPECT_EQ(a, b);
  }
  MPI_Barrier(MPI_COMM_WORLD);
}

}  // namespace
