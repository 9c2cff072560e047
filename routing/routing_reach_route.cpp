// One time step of a routing reach: the tributaries' outflows, less the
// water taken for irrigation and by the soil, pass their channels (kernel in
// routing_reach_kernels.cpp) and join the own subbasin's runoff at the outlet
// by area shares; irrigation then draws on the outlet.
#include "routing/routing_reach.h"

#include <algorithm>

void routingclass::route(int year, int month, int day, int hour) {
  const int a = time_splitting;
  const bool date_valid = month >= 1;
  interval_arrays& in = *intervals;
  const auto uown = static_cast<size_t>(own);

  if (date_valid && demand != nullptr && maxirrig != nullptr) withdraw_for_irrigation();

  for (int m = 1; m <= a; ++m) {
    outlet_series[0][static_cast<size_t>(m)] = in[0][static_cast<size_t>(m)][uown] * channels[0].share;
    for (int k = 1; k <= ntr; ++k)
      outlet_series[static_cast<size_t>(k)][static_cast<size_t>(m)] =
          in[static_cast<size_t>(k)][static_cast<size_t>(m)][uown];
  }

  for (int j = 1; j <= channels_total; ++j) {
    reach_channel& ch = channels[static_cast<size_t>(j)];
    if (ch.kind != channel_kind::zl && date_valid && riverflows != nullptr) take_river_water(ch);
    double weight_sum = 0;
    if (ch.kind == channel_kind::sumtrib) mix_sumtrib(ch, weight_sum);
    if (ch.kind == channel_kind::zl &&
        inflows[static_cast<size_t>(j - ol - sumtrib)].kind == INFLOW_INTERN) {
      const auto h = static_cast<size_t>(ch.flow_index);
      for (int m = 1; m <= a; ++m) {
        double& v = in[0][static_cast<size_t>(m)][h];
        v = m3s_to_mm(v, ch.params.area, dt);
      }
      for (int k = 0; k <= ntr; ++k)
        (*flows)[static_cast<size_t>(k)][h] = in[static_cast<size_t>(k)][1][h];
    }
    fill_inflow_series(ch);
    for (int k = 0; k <= ntr; ++k) {
      queue_pointers[static_cast<size_t>(k)] =
          (*queues)[static_cast<size_t>(k)][static_cast<size_t>(ch.flow_index)].data();
      series_pointers[static_cast<size_t>(k)] = inflow_series[static_cast<size_t>(k)].data();
    }
    const channel_kernel_params p{&ch.table, ch.c_main, ch.c_flood, a, dt, ntr, decays.data()};
    route_channel(p, ch.state, queue_pointers.data(), series_pointers.data());
    add_to_outlet(ch, weight_sum);
  }

  close_outlet();
  if (date_valid && demand != nullptr && maxirrig != nullptr) irrigate_at_outlet();
  abstraction_total = 0;
  if (al > 0) pass_abstractions(year, month, day, hour);
  if (sp > 0) pass_reservoirs(year, month, day, hour);
}

void routingclass::withdraw_for_irrigation() {
  interval_arrays& in = *intervals;
  subbasin_flow_arrays& mi = *maxirrig;
  for (int j = 1; j <= ol + sumtrib; ++j) {
    const reach_channel& ch = channels[static_cast<size_t>(j)];
    auto withdraw = [&](int idx) {
      const auto u = static_cast<size_t>(idx);
      if (mi[0][u] != 0) return;
      for (int k = 0; k <= ntr; ++k) mi[static_cast<size_t>(k)][u] = in[static_cast<size_t>(k)][1][u];
      const double need = (*demand)[u].sum;
      for (int m = 1; m <= time_splitting; ++m) in[0][static_cast<size_t>(m)][u] -= need;
    };
    for (const int idx : ch.listed_index) withdraw(idx);
    withdraw(ch.flow_index);
  }
}

void routingclass::take_river_water(const reach_channel& ch) {
  interval_arrays& in = *intervals;
  auto take = [&](int idx) {
    riverflow_record& rec = (*riverflows)[static_cast<size_t>(idx)];
    rec.taken = m3s_to_mm(rec.taken, rec.catchment_area, dt);
    for (int m = 1; m <= time_splitting; ++m)
      in[0][static_cast<size_t>(m)][static_cast<size_t>(idx)] -= rec.taken;
  };
  for (const int idx : ch.listed_index) take(idx);
  take(ch.flow_index);
}

void routingclass::mix_sumtrib(const reach_channel& ch, double& weight_sum) {
  interval_arrays& in = *intervals;
  const std::vector<double>& r = abfrel->area_share;
  const std::vector<double>& phi = abfrel->factor;
  const auto h = static_cast<size_t>(ch.flow_index);
  auto weight = [&](int idx) { return r[static_cast<size_t>(idx)] / phi[static_cast<size_t>(idx)]; };
  weight_sum = weight(ch.flow_index);
  for (const int idx : ch.listed_index) weight_sum += weight(idx);
  for (int m = 1; m <= time_splitting; ++m) {
    const auto um = static_cast<size_t>(m);
    double volume = weight(ch.flow_index) * in[0][um][h];
    for (const int idx : ch.listed_index)
      volume += weight(idx) * in[0][um][static_cast<size_t>(idx)];
    for (int k = 1; k <= ntr; ++k) {
      const auto uk = static_cast<size_t>(k);
      double mass = weight(ch.flow_index) * in[0][um][h] * in[uk][um][h];
      for (const int idx : ch.listed_index) {
        const auto ui = static_cast<size_t>(idx);
        mass += weight(idx) * in[0][um][ui] * in[uk][um][ui];
      }
      // Dry tributaries carry no tracer: 0, not 0/0.
      in[uk][um][h] = volume != 0 ? mass / volume : 0.0;
    }
    in[0][um][h] = volume / weight_sum;
  }
}

void routingclass::fill_inflow_series(const reach_channel& ch) {
  const interval_arrays& in = *intervals;
  const auto h = static_cast<size_t>(ch.flow_index);
  double observed = -1;
  if (switch2 != 0 && ch.flow_index <= nsub && window != nullptr && columns != nullptr) {
    const int column = (*columns)[h];
    if (column != 0) observed = (*window)[OBSERVED_CURRENT_ROW][static_cast<size_t>(column)];
  }
  for (int m = 1; m <= time_splitting; ++m) {
    const auto um = static_cast<size_t>(m);
    inflow_series[0][um] = observed >= 0 ? observed : in[0][um][h];
    for (int k = 1; k <= ntr; ++k)
      inflow_series[static_cast<size_t>(k)][um] = in[static_cast<size_t>(k)][um][h];
  }
}

void routingclass::add_to_outlet(const reach_channel& ch, double weight_sum) {
  const std::vector<double>& r = abfrel->area_share;
  for (int m = 1; m <= time_splitting; ++m) {
    const auto um = static_cast<size_t>(m);
    const double x = inflow_series[0][um];
    double w = 0;
    if (ch.kind == channel_kind::zl)
      w = x * ch.params.area / area * factor;
    else if (ch.kind == channel_kind::sumtrib)
      w = x * factor * weight_sum / r[static_cast<size_t>(own)];
    else
      w = x * ch.share / abfrel->factor[static_cast<size_t>(ch.flow_index)];
    for (int k = 1; k <= ntr; ++k) {
      double& c = outlet_series[static_cast<size_t>(k)][um];
      c = mix(c, inflow_series[static_cast<size_t>(k)][um], outlet_series[0][um], w);
    }
    outlet_series[0][um] += w;
  }
}

void routingclass::close_outlet() {
  interval_arrays& in = *intervals;
  subbasin_flow_arrays& f = *flows;
  const auto uown = static_cast<size_t>(own);
  for (int k = 0; k <= ntr; ++k) outlet_series[static_cast<size_t>(k)][0] = 0;
  for (int m = 1; m <= time_splitting; ++m) {
    const auto um = static_cast<size_t>(m);
    for (int k = 0; k <= ntr; ++k)
      in[static_cast<size_t>(k)][um][uown] = outlet_series[static_cast<size_t>(k)][um];
    outlet_series[0][0] += outlet_series[0][um];
  }
  const double total = outlet_series[0][0];
  for (int k = 1; k <= ntr; ++k) {
    double c = 0;
    for (int m = 1; m <= time_splitting; ++m) {
      const auto um = static_cast<size_t>(m);
      if (total > 0) c += outlet_series[0][um] / total * outlet_series[static_cast<size_t>(k)][um];
    }
    outlet_series[static_cast<size_t>(k)][0] = c;
  }
  f[0][uown] = total / time_splitting;
  for (int k = 1; k <= ntr; ++k) f[static_cast<size_t>(k)][uown] = outlet_series[static_cast<size_t>(k)][0];
}

void routingclass::irrigate_at_outlet() {
  subbasin_flow_arrays& mi = *maxirrig;
  subbasin_flow_arrays& f = *flows;
  interval_arrays& in = *intervals;
  const auto uown = static_cast<size_t>(own);
  if (mi[0][uown] != 0) return;
  const zone_record& rec = (*demand)[uown];
  const double r_own = abfrel->area_share[uown];
  mi[0][uown] = r_own / rec.share * f[0][uown] / factor;
  for (int k = 1; k <= ntr; ++k) mi[static_cast<size_t>(k)][uown] = f[static_cast<size_t>(k)][uown];
  const double w = rec.share / r_own * rec.sum * factor;
  for (int m = 1; m <= time_splitting; ++m) {
    double& v = in[0][static_cast<size_t>(m)][uown];
    v = std::max(0.0, v - w);
  }
  f[0][uown] = std::max(0.0, f[0][uown] - w);
}
