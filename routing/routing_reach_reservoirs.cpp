// Abstractions and reservoirs of a routing reach: their set-up from the
// entries, their rules, and their part of the step after the outlet. The
// abstractions take from the outlet (or, where the reach has reservoirs,
// from the last reservoir's water); the reservoirs lie in series, each
// taking the current reach outflow and replacing it by its own release.
#include <algorithm>

#include "modelbase/diagstream.h"
#include "routing/routing_reach.h"

void routingclass::make_abstractions_and_reservoirs(const reach_setup& s) {
  lake_switch = s.lake_switch;
  lake_readgrid = s.lake_readgrid;
  lakes = s.lakes;
  exchange.assign(static_cast<size_t>(ntr) + 1, 0.0);
  abstractions.clear();
  reservoirs.clear();
  if (al > 0) {
    abstractions.resize(static_cast<size_t>(al) + 1);
    for (int i = 1; i <= al; ++i) {
      auto a = std::make_unique<AL_class>();
      a->init_context(diag, s.tracers, ntr, reach_code, area, factor, dt, output_directory);
      abstractions[static_cast<size_t>(i)] = std::move(a);
    }
  }
  if (sp > 0) {
    reservoir_context c;
    c.diag = diag;
    c.zone_index = code_to_index;
    c.strips = strips;
    c.ncols = ncols;
    c.nrows = nrows;
    c.cellsize = cellsize;
    c.nodata = nodata;
    c.lake_switch = lake_switch;
    c.ntr = ntr;
    c.tracers = s.tracers;
    c.step_decay = s.step_decay;
    c.reach_code = reach_code;
    c.output_directory = output_directory != nullptr ? *output_directory : std::string();
    if (lake_switch != 0 && lakes != nullptr) c.grids = *lakes;
    reservoirs.resize(static_cast<size_t>(sp) + 1);
    for (int i = 1; i <= sp; ++i) {
      auto r = std::make_unique<SP_class>();
      r->init_context(c);
      reservoirs[static_cast<size_t>(i)] = std::move(r);
    }
  }
}

void routingclass::ensure_outlet_series(int splitting) {
  if (channels_total > 0) return;
  time_splitting = splitting;
  const auto width = static_cast<size_t>(splitting) + 1;
  if (outlet_series.empty() || outlet_series[0].size() != width) {
    outlet_series.assign(static_cast<size_t>(ntr) + 1, std::vector<double>(width, 0.0));
    inflow_series = outlet_series;
  }
}

void routingclass::SetAblaufModus(int entry_number, int code, const std::string& text,
                                  int splitting, int year, int month, int day, int hour) {
  const int i = entry_number - ol - sumtrib - zl;
  ensure_outlet_series(splitting);
  abstraction(i).parse_entry(code, text, year, month, day, hour);
}

void routingclass::SetSpeicherParams(int entry_number, int code, const std::string& text,
                                     int splitting) {
  const int i = entry_number - ol - sumtrib - zl - al;
  ensure_outlet_series(splitting);
  SP_class& r = reservoir(i);
  r.parse_entry(code, text);
  r.init_lake();
  r.write_output_header();
  if (lake_switch != 0 && lake_readgrid != 0)
    r.volume_from_ponding();
  else
    r.set_ponding_from_level(r.contents()[0]);
}

void routingclass::read_reservoir_rules(std::FILE* rules_file, int year, int month, int day,
                                        int hour) {
  for (int i = 1; i <= reservoir_count(); ++i) {
    SP_class& r = reservoir(i);
    r.read_rule_section(rules_file);
    double q = r.evaluate_rule(nullptr, {}, year, month, 0.0, dt, day, hour);
    if (q * dt * 60 > r.contents()[0]) q = std::max(0.0, r.contents()[0]) / 60 / dt;
    r.outflow() = q;
  }
}

void routingclass::read_abstraction_rules(std::FILE* rules_file) {
  for (int i = 1; i <= abstraction_count(); ++i) abstraction(i).read_rule_section(rules_file);
}

void routingclass::flush_outputs() {
  for (int i = 1; i <= abstraction_count(); ++i) abstraction(i).flush_output(1);
  for (int i = 1; i <= reservoir_count(); ++i) reservoir(i).flush_output(1);
}

void routingclass::release_abstractions_and_reservoirs(DiagStream& d) {
  if (abstraction_count() > 0) {
    d << ", --> ALs...";
    for (int i = 1; i <= abstraction_count(); ++i) {
      AL_class& a = abstraction(i);
      a.flush_output(1);
      d << " " << a.number() << ",";
      a.release();
    }
  }
  if (reservoir_count() > 0) {
    d << ", --> SPs...";
    for (int i = 1; i <= reservoir_count(); ++i) {
      SP_class& r = reservoir(i);
      r.flush_output(1);
      d << " " << r.number() << " ";
      r.release();
    }
  }
}

std::vector<AL_class*> routingclass::abstraction_list() const {
  std::vector<AL_class*> list;
  for (int i = 1; i <= abstraction_count(); ++i) list.push_back(abstractions[static_cast<size_t>(i)].get());
  return list;
}

void routingclass::deliver_internal(const AL_class& a, const std::vector<double>& x) {
  const auto t = static_cast<size_t>(nsub + a.number());
  const auto uown = static_cast<size_t>(own);
  interval_arrays& in = *intervals;
  subbasin_flow_arrays& f = *flows;
  if (a.number() < 1 || t >= f[0].size() || t >= in[0][1].size()) return;
  for (int m = 1; m <= time_splitting; ++m)
    for (int k = 0; k <= ntr; ++k)
      in[static_cast<size_t>(k)][static_cast<size_t>(m)][t] = k == 0 ? x[0] : f[static_cast<size_t>(k)][uown];
  f[0][t] = x[0];
}

void routingclass::pass_abstractions(int year, int month, int day, int hour) {
  const bool date_valid = month >= 1;
  const bool irrigation_on = date_valid && demand != nullptr && maxirrig != nullptr;
  const auto uown = static_cast<size_t>(own);
  subbasin_flow_arrays& f = *flows;
  interval_arrays& in = *intervals;
  const double v_irr = irrigation_on && maxirrig_reservoirs != nullptr
                           ? 60 * dt * mm_to_m3s_reach((*maxirrig_reservoirs)[0][uown])
                           : 0.0;
  const SP_class* last = sp > 0 ? &reservoir(sp) : nullptr;
  const double water = last != nullptr ? m3s_to_mm_reach((last->contents()[0] - v_irr) / dt / 60)
                                       : f[0][uown];
  for (int i = 1; i <= abstraction_count(); ++i) {
    AL_class& a = abstraction(i);
    if (a.modus() == AL_INTERN_FROM_RESERVOIR) continue;
    const double amount = a.abstraction_amount(f, abstraction_total, water, year, month, day, hour);
    exchange[0] = mm_to_m3s_reach(amount);
    for (int k = 1; k <= ntr; ++k)
      exchange[static_cast<size_t>(k)] =
          last != nullptr ? last->contents()[static_cast<size_t>(k)] : f[static_cast<size_t>(k)][uown];
    if (date_valid) a.write_output_row(year, month, day, hour, exchange);
    if (last == nullptr) {
      f[0][uown] -= amount;
      for (int m = 1; m <= time_splitting; ++m) in[0][static_cast<size_t>(m)][uown] -= amount;
    }
    if (a.modus() == AL_INTERN || a.modus() == AL_INTERN_WITH_RULE) deliver_internal(a, exchange);
  }
}

void routingclass::pass_reservoirs(int year, int month, int day, int hour) {
  const bool date_valid = month >= 1;
  const bool irrigation_on = date_valid && demand != nullptr && maxirrig != nullptr;
  const auto uown = static_cast<size_t>(own);
  subbasin_flow_arrays& f = *flows;
  interval_arrays& in = *intervals;
  const std::vector<AL_class*> als = abstraction_list();
  for (int i = 1; i <= reservoir_count(); ++i) {
    SP_class& r = reservoir(i);
    const bool is_last = i == reservoir_count();
    const double v_irr = is_last && irrigation_on && maxirrig_reservoirs != nullptr
                             ? 60 * dt * mm_to_m3s_reach((*maxirrig_reservoirs)[0][uown])
                             : 0.0;
    exchange[0] = mm_to_m3s_reach(f[0][uown]);
    const double v_al = date_valid && is_last ? 60 * dt * mm_to_m3s_reach(abstraction_total) : 0.0;
    r.balance_step(queues, f, exchange, als, own, dt, v_irr, v_al, year, month, day, hour);
    for (AL_class* a : als) {
      if (a->modus() != AL_INTERN_FROM_RESERVOIR) continue;
      exchange[0] = a->amount()[0];
      for (int k = 1; k <= ntr; ++k) exchange[static_cast<size_t>(k)] = r.contents()[static_cast<size_t>(k)];
      deliver_internal(*a, exchange);
      if (year >= 1) a->write_output_row(year, month, day, hour, exchange);
    }
    f[0][uown] = m3s_to_mm_reach(r.outflow());
    for (int k = 1; k <= ntr; ++k) f[static_cast<size_t>(k)][uown] = r.contents()[static_cast<size_t>(k)];
    for (int m = 1; m <= time_splitting; ++m)
      for (int k = 0; k <= ntr; ++k)
        in[static_cast<size_t>(k)][static_cast<size_t>(m)][uown] = f[static_cast<size_t>(k)][uown];
    if (date_valid) {
      if (is_last && maxirrig_reservoirs != nullptr) {
        subbasin_flow_arrays& mr = *maxirrig_reservoirs;
        mr[0][uown] = m3s_to_mm_reach(r.contents()[0] / 60 / dt);
        for (int k = 1; k <= ntr && static_cast<size_t>(k) < mr.size(); ++k)
          mr[static_cast<size_t>(k)][uown] = r.contents()[static_cast<size_t>(k)];
      }
      r.write_output_row(year, month, day, hour);
    }
  }
}
