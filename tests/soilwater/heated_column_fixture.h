// One heated soil column run call by call through the whole column step:
// a loam of Carsel and Parrish (1988, table 3) in layers of 0.1 m below a
// surface at 100 m, the lowest layer saturated, no vegetation, and the heat
// values of the module's defaults (explicit scheme).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "soilwater/soilcolumn_step.h"
#include "soilwater/unsatzon_heat.h"
#include "soilwater/unsatzon_section.h"
#include "support/test_support.h"
#include "tables/soiltable.h"

struct heated_column {
  explicit heated_column(int layers, double start_temperature = 5, double seconds = 3600)
      : n(layers),
        soil(make_soil(layers)),
        factors(at(layers) + 1),
        z(size()),
        theta(size()),
        h(size()),
        q(size()),
        t(size(), start_temperature),
        veg(2),
        work(n, 1) {
    complete_soil_heat_values(soil, unsatzon_parameters{});
    conductivity_factors(soil, n, heat.lambda_water, factors.data());
    settings.layers = n;
    settings.call_seconds = seconds;
    settings.step_seconds = seconds;
    settings.vegetation_layers = 1;
    settings.heat = true;
    settings.heat_settings = &heat;
    z[0] = 100;
    for (int k = 1; k <= n; ++k) {
      z[at(k)] = z[at(k - 1)] - soil.thickness[at(k)];
      theta[at(k)] = k == n ? soil.theta_sat[at(k)] : 0.3;
    }
    input.soil = &soil;
    input.z = z.data();
    input.vegetation = veg.data();
    input.river.cellsize = 100;
    input.table_from_state = true;
    heat_in.factors = factors.data();
    heat_in.t_air = start_temperature;
    heat_in.t_lower = start_temperature;
    input.heat = &heat_in;
    state.theta = theta.data();
    state.h = h.data();
    state.q = q.data();
    state.temperature = t.data();
    state.groundwater_level = n;
    state.groundwater_distance = z[at(n - 1)] - z[0];
    state.theta_gw = theta[at(n)];
  }
  static soil_entry make_soil(int layers) {
    captured_diag cap;
    soil_entry e;
    char text[300];
    std::snprintf(
        text, sizeof text,
        "1 loam method MultipleHorizons {\n layers = %d; ksat = 2.89e-6; theta_sat = 0.43; "
        "theta_res = 0.078; alpha = 3.6; Par_n = 1.56; thickness = 0.1;\n}\n",
        layers);
    parse_soil_block(*cap.diag, e, text);
    return e;
  }
  static size_t at(int k) { return static_cast<size_t>(k); }
  size_t size() const { return at(n) + 1; }
  ColumnResult call() { return soil_column_cell_step(settings, input, state, work); }

  int n;
  soil_entry soil;
  std::vector<ConductivityFactors> factors;
  std::vector<double> z, theta, h, q, t;
  std::vector<VegetationInput> veg;
  ColumnWork work;
  HeatSettings heat;
  HeatColumnInput heat_in;
  ColumnStepSettings settings;
  ColumnInput input;
  ColumnState state;
};
