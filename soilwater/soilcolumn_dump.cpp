// Dump files of soil columns that leave their valid range (see soilcolumn_dump.h).
#include "soilwater/soilcolumn_dump.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "modelbase/diagstream.h"

namespace {

constexpr double BASEFLOW_LIMIT = 10;        // [m s-1] beyond this the base flow fails
constexpr double SATURATION_MARGIN = 0.001;  // [m3 m-3] above theta_sat that still passes
constexpr double TEMPERATURE_LIMIT = 70;     // [degC]
constexpr double EXTREME_MARGIN = 0.001;     // [K] a local extreme must pass its references by this
constexpr int CLOSE_CODE = 199;
constexpr int MAX_REFERENCES = 5;

// The references of layer k (1..n-1): the layer before the iteration and
// its neighbours before and after (the surface temperature above layer 1).
int references(int k, const double* t_before, const double* t, double t_surface, double* ref) {
  int count = 0;
  ref[count++] = t_before[k];
  if (k == 1) {
    ref[count++] = t_surface;
  } else {
    ref[count++] = t_before[k - 1];
    ref[count++] = t[k - 1];
  }
  ref[count++] = t_before[k + 1];
  ref[count++] = t[k + 1];
  return count;
}

// +1 local maximum, -1 local minimum, 0 neither.
int extreme(double value, const double* ref, int count) {
  bool above = true, below = true;
  for (int i = 0; i < count; ++i) {
    above = above && value > ref[i] + EXTREME_MARGIN;
    below = below && value < ref[i] - EXTREME_MARGIN;
  }
  return above ? 1 : below ? -1 : 0;
}

struct file_closer {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

void DumpSnapshot::take(int layers_n, const double* const* arrays, int count) {
  const size_t per = static_cast<size_t>(layers_n) + 1;
  layers.resize(per * static_cast<size_t>(count));
  for (int i = 0; i < count; ++i)
    std::copy(arrays[i], arrays[i] + per,
              layers.begin() + static_cast<std::ptrdiff_t>(per * static_cast<size_t>(i)));
}

DumpCheck check_column(int layers, const double* theta, const double* theta_sat, double baseflow,
                       const double* t_before, const double* t, double t_surface) {
  DumpCheck c;
  c.baseflow = baseflow < -BASEFLOW_LIMIT || baseflow > BASEFLOW_LIMIT;
  for (int k = 1; k <= layers; ++k)
    if (theta[k] < 0 || theta[k] > theta_sat[k] + SATURATION_MARGIN) {
      c.water = k;
      break;
    }
  if (t_before == nullptr || t == nullptr) return c;
  double ref[MAX_REFERENCES];
  for (int k = 1; k < layers; ++k) {
    const bool out = t[k] < -TEMPERATURE_LIMIT || t[k] > TEMPERATURE_LIMIT;
    if (out || extreme(t[k], ref, references(k, t_before, t, t_surface, ref)) != 0) {
      c.heat = k;
      break;
    }
  }
  return c;
}

void repair_column(const DumpCheck& check, int layers, double* theta, const double* theta_sat,
                   double& baseflow, const double* t_before, double* t, double t_surface) {
  if (check.baseflow) baseflow = std::clamp(baseflow, -BASEFLOW_LIMIT, BASEFLOW_LIMIT);
  if (check.water != 0)
    for (int k = 1; k <= layers; ++k) {
      if (theta[k] < 0) theta[k] = 0;
      if (theta[k] > theta_sat[k] + SATURATION_MARGIN) theta[k] = theta_sat[k];
    }
  if (check.heat == 0 || t == nullptr || t_before == nullptr) return;
  for (int k = 1; k <= layers; ++k) t[k] = std::clamp(t[k], -TEMPERATURE_LIMIT, TEMPERATURE_LIMIT);
  // From the top down, each layer against its neighbours as they stand.
  double ref[MAX_REFERENCES];
  for (int k = 1; k < layers; ++k) {
    const int count = references(k, t_before, t, t_surface, ref);
    const int e = extreme(t[k], ref, count);
    if (e > 0) t[k] = *std::max_element(ref, ref + count);
    if (e < 0) t[k] = *std::min_element(ref, ref + count);
  }
}

std::string dump_file_name(const DumpCheck& check, int row, int col, int substep, int year,
                           int month, int day, int hour) {
  std::string name;
  if (check.heat != 0) name += "heat(" + std::to_string(check.heat) + ")_";
  if (check.water != 0) name += "theta(" + std::to_string(check.water) + ")_";
  if (check.baseflow) name += "dgw_";
  char tail[128];
  std::snprintf(tail, sizeof tail, "dump_row_%d_col_%d_substep_%d_%d%02d%02d%02d.dmp", row, col,
                substep, year, month, day, hour);
  return name + tail;
}

bool write_dump_file(const std::string& name, const DumpSnapshot& s, int layers, int vegetation,
                     bool heat) {
  std::unique_ptr<std::FILE, file_closer> f(std::fopen(name.c_str(), "wb"));
  if (!f) return false;
  bool ok = true;
  auto put = [&](const auto& v) { ok = ok && std::fwrite(&v, sizeof v, 1, f.get()) == 1; };
  auto put_doubles = [&](const double* v, size_t count) {
    ok = ok && std::fwrite(v, sizeof(double), count, f.get()) == count;
  };
  const size_t per = static_cast<size_t>(layers) + 1;
  const size_t v = static_cast<size_t>(std::max(vegetation, 0));
  put(static_cast<int32_t>(s.roots));
  put(s.mean_suction);
  put(s.w);
  put(s.baseflow);
  put_doubles(s.transpiration.data(), std::min(v + 1, s.transpiration.size()));
  put_doubles(s.layers.data(), std::min(per * DUMP_WATER_ARRAYS, s.layers.size()));
  if (heat) {
    const size_t first = per * DUMP_WATER_ARRAYS;
    if (s.layers.size() >= first + per * DUMP_HEAT_ARRAYS)
      put_doubles(s.layers.data() + first, per * DUMP_HEAT_ARRAYS);
    else
      ok = false;
    put(s.dt_heat);
  }
  put(static_cast<int32_t>(s.soil_type));
  put_doubles(s.landuse.data(), std::min(v, s.landuse.size()));
  for (int value : {s.hour, s.day, s.month, s.year}) put(static_cast<int32_t>(value));
  put(s.water_substeps);
  put(s.dt_water);
  if (heat) {
    put(s.heat_substeps);
    put(static_cast<int32_t>(s.ratio));
    put(s.t_air);
  }
  ok = ok && std::fflush(f.get()) == 0;
  return ok;
}

int64_t record_dump(DumpControl& control, const std::string& name, const DumpSnapshot& snapshot,
                    int layers, int vegetation, bool heat) {
  int64_t count = 0;
  {
    const std::lock_guard<std::mutex> guard(control.lock);
    if (control.max_files == 0 || control.counter < control.max_files)
      write_dump_file(name, snapshot, layers, vegetation, heat);
    count = ++control.counter;
  }
  if (!control.close_after_dump) return count;
  if (control.diag == nullptr) throw CLOSE_CODE;
  int code = CLOSE_CODE;
#pragma omp critical(velmo_diag)
  try {
    fail_fatal(*control.diag, CLOSE_CODE,
               "\n\n -------- command line option -closeAfterDump active! "
               "---------------------------------------------\n\n",
               " a dumpfile has been written and Velmo aborts now.\n", std::string(61, '-'),
               "\n\n");
  } catch (int e) {
    code = e;
  }
  throw code;
}

void report_repair(DumpControl& control, int64_t count) {
  if (control.diag == nullptr || control.max_files == 0 || count > control.max_files) return;
  const char* closing =
      count == control.max_files ? "\n continuing from now on without that message..." : "";
#pragma omp critical(velmo_diag)
  diag_entry(*control.diag,
             "DEBUG: \n ---- command line option -repairAfterDump active! --------\n",
             "setting the misbehaving parameter back to what is expected of it :-)", closing);
}
