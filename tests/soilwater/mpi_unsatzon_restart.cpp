// A run of the unsaturated zone restarted from its storage content file: 2N
// steps in one run against N steps, the state written by every process into
// its own file, and N steps of a new module that took over the soil grids
// (as double binary files would give them back) and read the file. Runoff,
// storages and zone queues continue bit for bit, however many processes
// share the grid.
#include <gtest/gtest.h>
#include <mpi.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "routing/abfluss.h"
#include "routing/abfluss_fixture.h"
#include "routing/surfrout.h"
#include "routing/surfrout_fixture.h"
#include "soilwater/unsatzon_basin_fixture.h"

namespace {

constexpr int ROWS = unsatzon_basin::ROWS;
constexpr int N = 5;

TEST(UnsatzonRestartProcesses, RestartedRunContinuesBitForBit) {
  std::vector<double> continuous, first_half, restarted;
  std::string state;
  std::vector<double> soil;
  flow_time_queues queues_at_end;
  {
    unsatzon_basin a;
    for (int t = 0; t < N; ++t) a.step(t, first_half);
    a.unsat->write_state(0);
    ASSERT_TRUE(a.unsat->storage_section_written());
    state = read_file(a.f.cd.dir.file("state.txt_" + std::to_string(world_rank())));
    soil = a.soil_state();
    continuous = first_half;
    for (int t = N; t < 2 * N; ++t) a.step(t, continuous);
    queues_at_end = a.unsat->get_zone_queues();
  }
  {
    unsatzon_basin b;
    b.take_soil_state(soil);
    b.f.cd.dir.write("state.txt_" + std::to_string(world_rank()), state);
    b.unsat->read_state();
    restarted = first_half;
    for (int t = N; t < 2 * N; ++t) b.step(t, restarted);
    const flow_time_queues& q = b.unsat->get_zone_queues();
    ASSERT_EQ(q.zone_counts, queues_at_end.zone_counts);
    for (int s = 1; s <= 1; ++s)
      for (int k = 1; k <= q.zones_of(s); ++k) {
        EXPECT_EQ(q.direct[0][1][static_cast<size_t>(k)].sum,
                  queues_at_end.direct[0][1][static_cast<size_t>(k)].sum);
        EXPECT_EQ(q.interflow[0][1][static_cast<size_t>(k)].weight,
                  queues_at_end.interflow[0][1][static_cast<size_t>(k)].weight);
      }
  }
  if (world_rank() != 0) return;
  ASSERT_EQ(restarted.size(), continuous.size());
  double direct = 0;
  for (size_t i = 0; i < continuous.size(); ++i) {
    EXPECT_EQ(restarted[i], continuous[i]) << "step " << i / 6 << " value " << i % 6;
    if (i % 6 == 1 && i >= 6 * N) direct += continuous[i];
  }
  EXPECT_GT(direct, 0);  // the storages carried water across the restart
}

// The end of a run on every process: the writers in the application's
// order (routing, the unsaturated zone, surface routing, each appending only
// behind a section written in this run), and the soil-water report of
// process 0.
TEST(UnsatzonRestartProcesses, EndOfRunLayoutAndReport) {
  routing_section routing_text;
  routing_text.descriptions = {"TG 1 (A= 1, f= 1)"};
  unsatzon_basin run(routing_text.text() + surfrout_section{}.text(), "1 1");
  std::vector<double> out;
  for (int t = 0; t < 3; ++t) run.step(t, out);
  // The control cell (row 1, process 0): every file gets its rows at the
  // flush, one per sub-step; a second flush adds nothing.
  run.unsat->flush_outputs();
  const std::vector<std::string> files = {"cell1", "cell3", "cell4"};  // theta, otherdata, etr
  std::vector<std::string> after_first;
  for (const std::string& name : files)
    after_first.push_back(world_rank() == 0 ? read_file(run.f.cd.dir.file(name)) : "");
  run.unsat->flush_outputs();
  if (world_rank() == 0) {
    const int layers = run.unsat->get_layer_count();
    const int values[] = {layers, 6 * 1 + 18, layers + 1};
    for (size_t i = 0; i < files.size(); ++i) {
      SCOPED_TRACE(files[i]);
      const std::string text = read_file(run.f.cd.dir.file(files[i]));
      EXPECT_EQ(text, after_first[i]);
      std::vector<std::string> lines;
      for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(text.substr(at, end - at));
      ASSERT_EQ(lines.size(), 1U + 3 * 2);  // the header and 3 steps x 2 sub-steps
      for (size_t l = 1; l < lines.size(); ++l) {
        EXPECT_EQ(lines[l].rfind("2020\t6\t1\t", 0), 0U) << lines[l];
        EXPECT_EQ(std::count(lines[l].begin(), lines[l].end(), '\t'), 3 + values[i]) << lines[l];
      }
    }
  }
  int status = -1;
  abflussmodellklasse routing(status, run.f.diag(), nullptr, 0, "routing_model", &run.f.store,
                              run.f.settings, 0, nullptr, run.unsat->get_zone_table(),
                              run.unsat->get_readgrid());
  ASSERT_EQ(status, 0) << run.f.console();
  routing.read_state(run.unsat->get_storage_file_name(), 0);
  routing.set_initialized(1);
  run.unsat->set_initialized(1);
  // Surface routing over the same bands: no river, nothing silted up, cell
  // widths that match the relative areas.
  grid_matrix silted = run.f.grids.matrix(1, ROWS, 0, 3, ROWS);
  grid_matrix no_river = run.f.grids.matrix(1, ROWS, 0, 3, ROWS);
  grid_matrix width = run.f.grids.matrix(1, ROWS, 0, 3, ROWS);
  grid_matrix height = run.f.grids.matrix(1, ROWS, 0, 3, ROWS);
  for (int r = 1; r <= ROWS; ++r)
    for (int c = 0; c <= 3; ++c) {
      silted[r][c] = 0;
      no_river[r][c] = NODATA;
      width[r][c] = 100 * run.area[r][c];
      height[r][c] = 100;
    }
  const std::pair<const char*, grid_matrix*> surface_inputs[] = {
      {"SurfStorSiltingUp", &silted}, {"river_depth", &no_river}, {"river_width", &no_river},
      {"river_links", &no_river},     {"CellSizeX", &width},      {"CellSizeY", &height}};
  for (const auto& [name, grid] : surface_inputs)
    run.f.publish(run.f.store.first_free(1), name, grid);
  surfaceroutingclass surface(status, run.f.diag(), nullptr, 0, "SurfaceRoutingModel",
                              &run.f.store, run.f.settings, 2);
  ASSERT_EQ(status, 0) << run.f.console();
  surface.init_tracers(status, 0, nullptr, nullptr, 0);
  ASSERT_EQ(status, 0) << run.f.console();
  surface.set_qbb(run.unsat->get_qbb());
  surface.set_kelsqd(run.unsat->get_kelsqd());
  surface.set_kelsqi(run.unsat->get_kelsqi());
  surface.read_state(run.unsat->get_storage_file_name(), run.unsat->get_readgrid());
  surface.set_initialized(1);
  // The test's own mean water of the own cells, weighted, summed at 0.
  int theta_index = 0;
  for (int i = 1; i < GRID_STORE_ENTRIES; ++i)
    if (run.f.store[i].grid_name == std::string("theta")) theta_index = i;
  ASSERT_GT(theta_index, 0);
  const stack_matrix& theta = *run.f.store[theta_index].stack;
  double own[2] = {0, 0};
  for (int r = run.first; r <= run.last; ++r)
    for (int c = 1; c <= 2; ++c) {
      for (int l = 1; l <= 10; ++l)
        own[0] += theta[r][c][l] * run.f.soils[1].thickness[static_cast<size_t>(l)];
      own[1] += run.area[r][c];
    }
  double total[2] = {0, 0};
  MPI_Reduce(own, total, 2, MPI_DOUBLE, MPI_SUM, 0, MPI_COMM_WORLD);

  bool started = false;
  for (teilmodellklasse* m : {static_cast<teilmodellklasse*>(&routing),
                              static_cast<teilmodellklasse*>(run.unsat.get()),
                              static_cast<teilmodellklasse*>(&surface)}) {
    m->end_run(started ? 1 : 0);
    started = started || m->storage_section_written();
  }
  const int rank = world_rank();
  const std::string state = read_file(run.f.cd.dir.file("state.txt_" + std::to_string(rank)));
  if (rank == 0) {
    EXPECT_EQ(state.rfind("[routing_model]\n1 (routing subbasin with tributaries\n", 0), 0U);
    const size_t unsat_at = state.find("[unsatzon_model]\n");
    EXPECT_NE(unsat_at, std::string::npos);
    EXPECT_EQ(state.find("[routing_model]", 1), std::string::npos);
    const size_t surface_at = state.find("[SurfaceRoutingModel]\n");
    EXPECT_NE(surface_at, std::string::npos);
    EXPECT_GT(surface_at, unsat_at);
    const std::string log = read_file(run.f.cd.dir.file("modell_0.log"));
    const std::string label = "mean soil water content for all cells at model-end: ";
    const size_t at = log.find(label);
    ASSERT_NE(at, std::string::npos) << log;
    EXPECT_NEAR(std::stod(log.substr(at + label.size())), total[0] / total[1], 5e-7);
    EXPECT_NE(log.find("glacierized cells at model-end: 0.000000"), std::string::npos);
  } else {
    EXPECT_EQ(state.rfind("[unsatzon_model]\n", 0), 0U) << state.substr(0, 80);
    EXPECT_NE(state.find("\n[SurfaceRoutingModel]\n1 (number of subasins)\n"), std::string::npos)
        << state;
    EXPECT_EQ(state.find("[routing_model]"), std::string::npos);
  }
  // Each section once, on every process.
  for (const char* section : {"[unsatzon_model]", "[SurfaceRoutingModel]"}) {
    const size_t at = state.find(section);
    EXPECT_NE(at, std::string::npos) << section;
    EXPECT_EQ(state.find(section, at + 1), std::string::npos) << section;
  }
  MPI_Barrier(MPI_COMM_WORLD);
}

}  // namespace
