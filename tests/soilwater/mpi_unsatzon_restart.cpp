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
#include <vector>

#include "routing/abfluss.h"
#include "routing/abfluss_fixture.h"
#include "soilwater/module_fixture.h"
#include "soilwater/unsatzon.h"

namespace {

constexpr int ROWS = 6;
constexpr int N = 5;

// The unsaturated zone of the step fixture's basin: six rows of three cells
// in bands over the processes, three travel-time zones, unequal weights.
struct restart_run {
  module_fixture f{ROWS};
  grid_matrix dem, times, area, rain;
  std::unique_ptr<unsatzonmodellklasse> unsat;
  int first = 0, last = -1;

  // extra: further sections of the control file.
  // control_cell: "row column" of the control cell ("0 0": none).
  explicit restart_run(const std::string& extra = "", const std::string& control_cell = "0 0") {
    const int rank = world_rank();
    const int size = world_size();
    auto owner = [size](int row) { return (row - 1) * size / ROWS; };
    for (int r = 1; r <= ROWS; ++r)
      if (owner(r) == rank) {
        if (first == 0) first = r;
        last = r;
      }
    f.settings.first_row = first;
    f.settings.last_row = last;
    dem = f.grids.matrix(1, ROWS, 0, 3, ROWS);
    for (int r = 1; r <= ROWS; ++r)
      for (int c = 1; c <= 3; ++c) dem[r][c] = 1000 + 10 * r + c;
    f.publish(2, "dem", &dem);
    f.publish_regions();
    times = f.grids.matrix(1, ROWS, 0, 3, ROWS);
    area = f.grids.matrix(1, ROWS, 0, 3, ROWS);
    rain = f.grids.matrix(1, ROWS, 0, 3, ROWS);
    for (int r = 1; r <= ROWS; ++r)
      for (int c = 1; c <= 3; ++c) {
        f.regions[r][c] = owner(r);
        f.soil_zone_grid[r][c] = c == 3 ? NODATA : 1;
        times[r][c] = 3600.0 * ((r + 1) / 2);
        area[r][c] = 0.5 + 0.1 * r + 0.05 * c;
      }
    int next = 4 + static_cast<int>(f.inputs.size());  // the first free entry
    f.publish(next++, "zonegrid_soilmodel", &f.soil_zone_grid);
    f.publish(next++, "flow_times", &times);
    f.publish(next++, "RelCellArea", &area);
    unsatzon_section_text s;
    s.codes = "1";
    s.value_rows = {"3", "5", "0.5", "4", "1", "0.1"};
    s.control_cell = control_cell;
    f.write_control(s.text() + extra);
    MPI_Barrier(MPI_COMM_WORLD);
    int status = -1;
    unsat = std::make_unique<unsatzonmodellklasse>(status, f.diag(), nullptr, 0, "unsatzon_model",
                                                   &f.store, f.settings, 2);
    EXPECT_EQ(status, 0) << f.console();
    unsat->init_tracers(status, 0, nullptr, nullptr, 0);
    EXPECT_EQ(status, 0) << f.console();
    // Behind the module's own entries, which start at the first free one.
    int free_entry = next;
    while (f.store[free_entry].grid_name.has_value()) ++free_entry;
    f.publish(free_entry, "precipitation", &rain);
    unsat->select_input_grid(false);
  }

  // Step t with rain that changes from step to step; per step on process
  // 0: QD, QDd, QI, QIi, QBb, Qg of subbasin 1.
  void step(int t, std::vector<double>& out) {
    for (int r = 1; r <= ROWS; ++r)
      for (int c = 1; c <= 3; ++c) rain[r][c] = (t % 3 == 0 ? 40 : 3) + 5 * r + c + 0.1 * t;
    const model_date date{2020, 6, 1, t};
    unsat->begin_step(date);
    for (int k = 1; k <= 2; ++k) unsat->run_substep(date, k);
    unsat->end_step(date);
    const subbasin_flow_arrays* arrays[] = {unsat->get_qd(),   &unsat->get_qdd(), unsat->get_qi(),
                                            &unsat->get_qii(), unsat->get_qbb(),  unsat->get_qg()};
    for (const subbasin_flow_arrays* a : arrays) out.push_back((*a)[0][1]);
  }

  // The module's grids and stacks of the own rows, in store order.
  std::vector<double> soil_state() const {
    std::vector<double> values;
    for (int i = 1; i < GRID_STORE_ENTRIES; ++i) {
      const grid_entry& e = f.store[i];
      if (e.stack != nullptr && !e.stack->empty() && e.stack->levels() > 0) {
        for (int r = first; r <= last; ++r)
          for (int c = 1; c <= 3; ++c)
            for (int l = 0; l <= e.stack->levels(); ++l) values.push_back((*e.stack)[r][c][l]);
      }
      if (e.grid != nullptr && e.grid->first_row() <= first && e.grid->last_row() >= last) {
        for (int r = first; r <= last; ++r)
          for (int c = 1; c <= 3; ++c) values.push_back((*e.grid)[r][c]);
      }
    }
    return values;
  }
  void take_soil_state(const std::vector<double>& values) {
    size_t at = 0;
    for (int i = 1; i < GRID_STORE_ENTRIES; ++i) {
      grid_entry& e = f.store[i];
      if (e.stack != nullptr && !e.stack->empty() && e.stack->levels() > 0) {
        for (int r = first; r <= last; ++r)
          for (int c = 1; c <= 3; ++c)
            for (int l = 0; l <= e.stack->levels(); ++l) (*e.stack)[r][c][l] = values.at(at++);
      }
      if (e.grid != nullptr && e.grid->first_row() <= first && e.grid->last_row() >= last) {
        for (int r = first; r <= last; ++r)
          for (int c = 1; c <= 3; ++c) (*e.grid)[r][c] = values.at(at++);
      }
    }
    EXPECT_EQ(at, values.size());
  }
};

TEST(UnsatzonRestartProcesses, RestartedRunContinuesBitForBit) {
  std::vector<double> continuous, first_half, restarted;
  std::string state;
  std::vector<double> soil;
  flow_time_queues queues_at_end;
  {
    restart_run a;
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
    restart_run b;
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
// order (routing, then the unsaturated zone, each appending only behind a
// section written in this run), and the soil-water report of process 0.
TEST(UnsatzonRestartProcesses, EndOfRunLayoutAndReport) {
  routing_section routing_text;
  routing_text.descriptions = {"TG 1 (A= 1, f= 1)"};
  restart_run run(routing_text.text(), "1 1");
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
                              static_cast<teilmodellklasse*>(run.unsat.get())}) {
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
    const std::string log = read_file(run.f.cd.dir.file("modell_0.log"));
    const std::string label = "mean soil water content for all cells at model-end: ";
    const size_t at = log.find(label);
    ASSERT_NE(at, std::string::npos) << log;
    EXPECT_NEAR(std::stod(log.substr(at + label.size())), total[0] / total[1], 5e-7);
    EXPECT_NE(log.find("glacierized cells at model-end: 0.000000"), std::string::npos);
  } else {
    EXPECT_EQ(state.rfind("[unsatzon_model]\n", 0), 0U) << state.substr(0, 80);
  }
  MPI_Barrier(MPI_COMM_WORLD);
}

}  // namespace
