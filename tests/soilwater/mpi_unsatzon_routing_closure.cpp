// The water balance of a whole run of the unsaturated zone and the channel
// routing (no surface routing, no lakes, no flood plain): the rain on the
// basin equals what left at the outlet and what evaporated plus what the
// soil, the ponds, the travel-time zone queues, the two linear storages, the
// channel (its queues, its storage and its displaced water) and the
// reservoir at the outlet hold more than at the start, on any number of
// processes.
#include <gtest/gtest.h>
#include <mpi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "routing/abfluss.h"
#include "routing/abfluss_fixture.h"
#include "routing/routing_reach.h"
#include "soilwater/unsatzon_basin_fixture.h"
#include "submodel/runoff_concentration.h"
#include "tables/landuse.h"

namespace {

// The basin's water [mm over subbasin 1]; collective, the total on process 0.
struct basin_water {
  double soil = 0, queues = 0, storages = 0, channel = 0;
  double evaporated = 0;  // what the evaporation grids summed so far (nothing resets them here)
  double displaced = 0;   // the channel's part given to `displaced`
  double reservoir = 0;
  double total() const { return soil + queues + storages + channel + reservoir; }
};

// queue_weight: the weight a zone has when it reaches the head, so that
// its sum passes on as sum / queue_weight [mm].
basin_water water_of(unsatzon_basin& run, abflussmodellklasse& routing, double queue_weight,
                     int splitting) {
  const stack_matrix& theta = *run.f.store[run.entry("theta")].stack;
  const grid_matrix& pond = *run.f.store[run.entry("ponding_storage")].grid;
  const int layers = run.unsat->get_layer_count();
  const auto& thickness = run.f.soils[1].thickness;
  // Soil evaporation and the vegetation layer's transpiration ("real_transpiration0" is
  // their total, so it is left out).
  std::vector<const grid_matrix*> evaporation;
  for (const char* name : {"real_evaporation", "real_transpiration1"})
    evaporation.push_back(run.f.store[run.entry(name)].grid);
  // Own cells: soil and ponds weighted by the cells' areas, the area and
  // the evaporation.
  double own[4] = {0, 0, 0, 0};
  for (int r = run.first; r <= run.last; ++r)
    for (int c = 1; c <= 2; ++c) {
      double column = pond[r][c];
      for (int l = 1; l <= layers; ++l)
        column += 1000 * theta[r][c][l] * thickness[static_cast<size_t>(l)];
      own[0] += run.area[r][c] * column;
      own[2] += run.area[r][c];
      for (const grid_matrix* g : evaporation) own[3] += run.area[r][c] * (*g)[r][c];
    }
  // Zones behind the head: every process holds its part of their sums.
  const flow_time_queues& q = run.unsat->get_zone_queues();
  for (size_t k = 2; k <= static_cast<size_t>(q.zones_of(1)); ++k)
    own[1] += q.direct[0][1][k].sum + q.interflow[0][1][k].sum;
  double sum[4] = {0, 0, 0, 0};
  MPI_Reduce(own, sum, 4, MPI_DOUBLE, MPI_SUM, 0, MPI_COMM_WORLD);
  basin_water w;
  if (world_rank() != 0) return w;
  w.soil = sum[0] / sum[2];
  w.evaporated = sum[3] / sum[2];
  w.queues = queue_weight > 0 ? sum[1] / queue_weight : 0.0;
  // A linear storage whose outflow was B holds a / m x B.
  const double dt = run.unsat->get_time_interval();
  const linear_storage_weights d = linear_storage(dt, (*run.unsat->get_kelsqd())[1], false);
  const linear_storage_weights i = linear_storage(dt, (*run.unsat->get_kelsqi())[1], false);
  w.storages = d.a / d.m * run.unsat->get_qdd()[0][1] + i.a / i.m * run.unsat->get_qii()[0][1];
  const channel_water ch = routing.reach(1).water_of(1);
  // The channel holds values per sub-interval.
  w.channel = (ch.queued + ch.stored + ch.displaced) / splitting;
  w.displaced = ch.displaced / splitting;
  constexpr double M3_PER_MM = 20 * 1000;  // over subbasin 1, 20 km2 [m3 mm-1]
  w.reservoir = routing.reach(1).reservoir(1).contents()[0] / M3_PER_MM;
  return w;
}

TEST(UnsatzonRoutingClosure, RunClosesFromTheRainToTheOutlet) {
  constexpr int STEPS = 24;
  // Subbasin 1 (the soil's) drains through one channel into a reservoir at
  // the outlet of subbasin 2, which has no cells: the outlet sees the
  // release, as depth over subbasin 1 times its share 0.5.
  routing_section section;
  constexpr int SPLITTING = 4;
  section.range = "1 3000 40 " + std::to_string(SPLITTING);
  section.descriptions = {"TG 2 (A= 40, f= 1)", "OL 1 " + channel_values(1, 2, 1000, 5000),
                          "SP 2 (file = sp2.txt V0 = 50000 C0 = 0 0 0 0 0 0 0 0 0)"};
  // The reservoir at the outlet releases by its contents [m3] -> [m3 s-1].
  const std::string rule = "[abstraction_rule_reservoir_2]\n3\n0 0\n1e5 2\n1e7 300\n";
  unsatzon_basin run(section.text() + rule, "0 0", "1");
  // Ponds of up to 8 mm (the module holds the limit in mm once set up) and
  // evaporation from the soil.
  std::vector<landuse_entry> landuses(2);
  landuses[1].code = 1;
  landuses[1].RootDist = 1;
  landuses[1].HReduDry = 3.45;
  landuses[1].TReduWet = 0.95;
  landuses[1].LimitReduWet = 0.5;
  run.f.settings.landuse_table = &landuses;
  grid_matrix& pond_limit = *run.f.store[run.entry("max_ponding_storage")].grid;
  grid_matrix& potential = *run.f.store[run.entry("potential_evaporation")].grid;
  grid_matrix& landuse = *run.f.store[run.entry("landuse1")].grid;
  for (int r = run.first; r <= run.last; ++r)
    for (int c = 1; c <= 2; ++c) {
      pond_limit[r][c] = 8;
      potential[r][c] = 0.4 + 0.1 * c;
      landuse[r][c] = 1;
    }
  routing_zones zones({1, 2}, {0.5, 0.5}, 40);
  run.f.settings.start_date = model_date{2020, 6, 1, 0};
  int status = -1;
  abflussmodellklasse routing(status, run.f.diag(), nullptr, 0, "routing_model", &run.f.store,
                              run.f.settings, 0, nullptr, zones.view, 0);
  ASSERT_EQ(status, 0) << run.f.console();
  subbasin_flow_arrays qg = make_flow_arrays(0, 2);
  routing.set_qg(&qg);
  routing.init_routing();

  const basin_water start = water_of(run, routing, 0, SPLITTING);
  double rain = 0, outflow = 0, area = 0;
  for (int r = run.first; r <= run.last; ++r)
    for (int c = 1; c <= 2; ++c) area += run.area[r][c];
  MPI_Allreduce(MPI_IN_PLACE, &area, 1, MPI_DOUBLE, MPI_SUM, MPI_COMM_WORLD);
  std::vector<double> flows;
  double least_base = 0, most_pond = 0;
  std::vector<double> head_weights;  // of both kinds, every step (summed at process 0)
  for (int t = 0; t < STEPS; ++t) {
    run.step(t, flows);
    double own = 0;
    for (int r = run.first; r <= run.last; ++r)
      for (int c = 1; c <= 2; ++c) own += run.area[r][c] * run.rain[r][c];
    MPI_Allreduce(MPI_IN_PLACE, &own, 1, MPI_DOUBLE, MPI_SUM, MPI_COMM_WORLD);
    rain += own / area;
    const grid_matrix& pond = *run.f.store[run.entry("ponding_storage")].grid;
    for (int r = run.first; r <= run.last; ++r)
      for (int c = 1; c <= 2; ++c) most_pond = std::max(most_pond, pond[r][c]);
    if (world_rank() == 0) {
      qg[0][1] = (*run.unsat->get_qg())[0][1];
      least_base = t == 0 ? (*run.unsat->get_qbb())[0][1]
                          : std::min(least_base, (*run.unsat->get_qbb())[0][1]);
      head_weights.push_back(run.unsat->get_zone_queues().direct[0][1][1].weight);
      head_weights.push_back(run.unsat->get_zone_queues().interflow[0][1][1].weight);
    }
    routing.time_step(t, 1, 6, 2020);
    if (world_rank() == 0) outflow += routing.get_routing_flows()[0][2] / 0.5;
  }
  // Every zone reaches the head with the same weight, that of the whole
  // subbasin over the step: the zones behind pass on sum / that weight.
  double head_weight = world_rank() == 0 ? head_weights.back() : 0;
  MPI_Bcast(&head_weight, 1, MPI_DOUBLE, 0, MPI_COMM_WORLD);
  const basin_water end = water_of(run, routing, head_weight, SPLITTING);
  MPI_Allreduce(MPI_IN_PLACE, &most_pond, 1, MPI_DOUBLE, MPI_MAX, MPI_COMM_WORLD);
  if (world_rank() != 0) return;
  for (size_t i = 0; i < head_weights.size(); ++i)
    EXPECT_NEAR(head_weights[i], head_weight, 1e-12 * head_weight) << "step " << i / 2;
  // Every store took part: water went through the soil, the zones, the
  // storages and the channel, and base flow never fell below 0 (where the
  // subbasin's base flow is cut off).
  EXPECT_GT(outflow, 0);
  EXPECT_GT(end.queues, 0);
  EXPECT_GT(end.storages, 0);
  EXPECT_GT(end.channel, 0);
  EXPECT_NE(end.displaced, 0);  // the flood overtook queued water
  EXPECT_GT(end.reservoir, start.reservoir);
  EXPECT_NE(end.soil, start.soil);
  EXPECT_GE(least_base, 0);
  EXPECT_GT(most_pond, 0);
  EXPECT_GT(end.evaporated, 0);
  const double change = end.total() - start.total();
  const double evaporated = end.evaporated - start.evaporated;
  EXPECT_NEAR(rain, outflow + evaporated + change, 1e-9 * rain)
      << "soil " << end.soil - start.soil << " queues " << end.queues - start.queues
      << " storages " << end.storages - start.storages << " channel "
      << end.channel - start.channel << " reservoir " << end.reservoir - start.reservoir
      << " outflow " << outflow << " evaporated " << evaporated;
}

}  // namespace
