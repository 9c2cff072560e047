// A small basin for tests of the unsaturated zone over several processes:
// six rows of three cells in bands over the processes, two columns in
// subbasin 1 with three travel-time zones and unequal weights, rain that
// changes from step to step.
#pragma once

#include <mpi.h>

#include <memory>
#include <string>
#include <vector>

#include "soilwater/module_fixture.h"
#include "soilwater/unsatzon.h"

struct unsatzon_basin {
  static constexpr int ROWS = 6;
  module_fixture f{ROWS};
  grid_matrix dem, times, area, rain;
  std::unique_ptr<unsatzonmodellklasse> unsat;
  int first = 0, last = -1;

  // extra: further sections of the control file.
  // control_cell: "row column" of the control cell ("0 0": none).
  // pond: the pond switch of the section.
  explicit unsatzon_basin(const std::string& extra = "", const std::string& control_cell = "0 0",
                          const std::string& pond = "0") {
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
    s.pond = pond;
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

  // The store entry of a grid or stack by its name, 0 when there is none.
  int entry(const std::string& name) const {
    for (int i = 1; i < GRID_STORE_ENTRIES; ++i)
      if (f.store[i].grid_name == name) return i;
    return 0;
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
