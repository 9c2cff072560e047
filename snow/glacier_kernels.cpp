#include "snow/glacier_kernels.h"

#include <cmath>

double linear_storage_step(double outflow, double k_steps, double inflow) noexcept {
  const double recession = std::exp(-1.0 / k_steps);
  return outflow * recession + (1 - recession) * inflow;
}

double subbasin_glacier_share(const subbasin_glacier_record& record) noexcept {
  const double cells = record.glacier_sum + record.free_sum;
  return cells > 0 ? record.glacier_sum / cells : 0;
}

double glacier_runoff_step(const glacier_runoff_params& p, double r, double mean_ice,
                           double mean_firn, double mean_snow,
                           glacier_runoff_storages& q) noexcept {
  if (!(r > 0)) {
    q = {};
    return 0;
  }
  q.ice = linear_storage_step(q.ice, p.k_ice, mean_ice / r);
  q.firn = linear_storage_step(q.firn, p.k_firn, mean_firn / r);
  q.snow = linear_storage_step(q.snow, p.k_snow, mean_snow / r);
  return r * (q.ice + q.firn + q.snow);
}

double firn_area_factor(bool has_firn, double firn_total) noexcept {
  return has_firn && firn_total > 0 ? 1 : 0;
}

double glacier_balance_change(const glacier_balance_terms& t) noexcept {
  return t.snow + t.rain - t.snow_melt - t.firn_melt - t.ice_melt + t.mobile + t.deposition -
         t.input - t.evaporation;
}

namespace {

// Moves the excess X above W_max of the snow part to the glacier part,
// scaled by (1 - g) / g so that the cell-mean water stays.
void pass_excess(double max_pack, glacier_cell_state& s) {
  const double x = s.W - max_pack;
  const double f = (1 - s.share) / s.share;
  const double solid = x * s.S / s.W, liquid = x * s.L / s.W;
  s.Wg += f * x;
  s.Sg += f * solid;
  s.Lg += f * liquid;
  s.W -= x;
  s.S -= solid;
  s.L -= liquid;
}

}  // namespace

bool yearly_glacier_cell(const new_glacier_params& p, glacier_cell_state& s) noexcept {
  const bool was_glacier = s.share > 0;
  if (s.share <= 0 && s.W > p.max_pack) {
    if (s.code < 0) s.code = -1;
    s.share = p.new_share;
    s.Wg = s.W;
    s.Sg = s.S;
    s.Lg = s.L;
    pass_excess(p.max_pack, s);
    for (int l = 2; l <= s.levels; ++l) s.firn[l] = 0;
    if (s.levels >= 1) s.firn[1] = s.Wg;
    s.firn[0] = s.levels >= 1 ? s.firn[1] : 0;
    s.Wg = s.Sg = s.Lg = 0;
    s.old_balance = 0;
    s.balance = s.firn[0];
    return false;
  }
  if (s.share > 0 && s.share < 1 && s.W > p.max_pack) {
    const double before = s.W;
    pass_excess(p.max_pack, s);
    s.balance += before - s.W;
  }
  if (s.share >= 1) s.W = s.S = s.L = 0;
  if (was_glacier) {
    for (int l = s.levels; l >= 2; --l) s.firn[l] = s.firn[l - 1];
    double total = 0;
    if (s.levels >= 1) s.firn[1] = s.Wg;
    for (int l = 1; l <= s.levels; ++l) total += s.firn[l];
    s.firn[0] = total;
    s.Wg = s.Sg = s.Lg = 0;
  }
  return was_glacier;
}
