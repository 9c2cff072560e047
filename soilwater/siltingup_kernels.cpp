#include "soilwater/siltingup_kernels.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double MAX_ENERGY_INTENSITY = 76.2;  // [mm h-1] from which e stays 28.33
constexpr double MAX_ENERGY = 28.33;           // [J m-2 mm-1]
constexpr double TILLAGE_DAY = 0.3;            // [d] counted on a tillage day
constexpr double NO_TILLAGE = -9997;           // days[0] below: no tillage days
}  // namespace

double geometric_mean_diameter(const grain_fractions& g) noexcept {
  return std::pow(10.0, 0.5 * (-1.0969100130080562 * g.clay + 2.1003620619491743 * g.silt +
                               5.100385157531412 * g.sand + 7.100370545117563 * g.stones1 +
                               8.100370545117563 * g.stones2 + 9.100370545117563 * g.stones3 +
                               10.100370545117563 * g.stones4));
}

double rain_kinetic_energy(double intensity) noexcept {
  if (intensity >= MAX_ENERGY_INTENSITY) return MAX_ENERGY;
  if (intensity > NO_RAIN_INTENSITY) return 11.89 + 8.73 * std::log10(intensity);
  return 0;
}

double final_infiltration_rate(const silting_parameters& p, double dg, double sand) noexcept {
  return p.b * std::pow(dg, p.c) * std::pow(100 * sand, p.d);
}

double silting_disposition(const silting_parameters& p, double sand, double dg, double t) noexcept {
  if (t <= 0) return 0;
  return p.e * std::pow(100 * sand, p.f) * std::pow(dg, p.g) * std::pow(t, p.h);
}

bool has_tillage_days(int count, const int* days) noexcept {
  return count > 0 && days != nullptr && days[0] >= NO_TILLAGE;
}

double time_since_tillage(int count, const int* days, int h) noexcept {
  if (!has_tillage_days(count, days)) return 0;
  double t = 0;
  if (h >= days[count]) {
    t = h - days[count];
  } else {
    for (int i = 1; i <= count; ++i)
      if (h < days[i]) {
        t = h - days[i - 1];
        break;
      }
  }
  return t <= 0 ? TILLAGE_DAY : t;
}

double rain_pause_after(double pause, double intensity, double dt_minutes) noexcept {
  return intensity > NO_RAIN_INTENSITY ? 0 : pause + dt_minutes / 1440;
}

double kinetic_energy_after(const sealing_step_input& in, double energy_sum,
                            double pause) noexcept {
  if (in.tillage_days <= 0) return 0;
  const double added = (1 - in.cover) * in.intensity * in.energy * in.dt_minutes / 60;
  return in.min_pause > pause ? energy_sum + added : added;
}

double infiltration_capacity(double i_inf, double i_0, double c_v, double energy_sum,
                             double dt_minutes) noexcept {
  return (i_inf + (i_0 - i_inf) * std::exp(-c_v * energy_sum)) * dt_minutes / 60;
}

surface_split split_surface_water(double input, double storage, double capacity,
                                  bool tilled) noexcept {
  surface_split s{};
  s.total = input + storage;
  s.runoff = tilled ? s.total - std::min(s.total, capacity) : 0;
  s.input = s.total - s.runoff;
  return s;
}
