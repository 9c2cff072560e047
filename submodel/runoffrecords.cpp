// The shared runoff records: flow arrays, the routing's flow conversions and
// the travel-time zone queues that the unsaturated zone and the surface
// routing build alike (one routine, the differences passed in).
#include "submodel/runoffrecords.h"

#include <mpi.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "modelbase/diagstream.h"

namespace {

constexpr double M3S_STEP_TO_MM = 0.06;         // [mm km2 s m-3 min-1]
constexpr double MM_TO_M3S_STEP = 16.6666667;   // [m3 min s-1 km-2 mm-1]
constexpr double SECONDS_PER_MINUTE = 60;       // [s min-1]

// Adds the counts and weights of the incoming records; the weighted sums
// are cleared and codes and shares stay those of the receiving record.
void sum_zone_counts(void* in, void* inout, int* count, MPI_Datatype*) {
  const auto* a = static_cast<const zone_record*>(in);
  auto* b = static_cast<zone_record*>(inout);
  for (int i = 0; i < *count; ++i) {
    b[i].sum = 0;
    b[i].count += a[i].count;
    b[i].weight += a[i].weight;
  }
}

struct file_closer {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using log_file = std::unique_ptr<std::FILE, file_closer>;

std::string log_name(const std::string& directory) {
  return directory.empty() ? std::string("modell_0.log") : directory + "/modell_0.log";
}

bool own_cell(const flow_time_zone_setup& s, int r, int c) {
  const grid_matrix& z = *s.zone_grid;
  if (r < z.first_row() || r > z.last_row() || z[r] == nullptr) return false;
  // Without "MPIRegions" one process holds every cell.
  if (s.regions == nullptr) return z[r][c] != s.nodata;
  const grid_matrix& m = *s.regions;
  if (r < m.first_row() || r > m.last_row() || m[r] == nullptr) return false;
  return z[r][c] != s.nodata && m[r][c] == s.rank;
}

int subbasin_of(const flow_time_zone_setup& s, int r, int c) {
  const double code = (*s.zone_grid)[r][c];
  if (code < 0 || code >= static_cast<double>(s.zone_index->size())) return 0;
  return (*s.zone_index)[static_cast<size_t>(code)];
}

double weight_of(const flow_time_zone_setup& s, int r, int c) {
  if (s.weights == nullptr || r < s.weights->first_row() || r > s.weights->last_row() ||
      (*s.weights)[r] == nullptr)
    return 1;
  return (*s.weights)[r][c];
}

void allocate(const flow_time_zone_setup& s, flow_time_queues& q) {
  const size_t tracers = static_cast<size_t>(s.tracer_count) + 1;
  const size_t subbasins = static_cast<size_t>(s.subbasin_count) + 1;
  for (auto* queues : {&q.direct, &q.interflow}) {
    queues->assign(tracers, std::vector<std::vector<zone_record>>(subbasins));
    for (auto& per_tracer : *queues)
      for (int b = 1; b <= s.subbasin_count; ++b)
        per_tracer[static_cast<size_t>(b)].assign(static_cast<size_t>(q.zones_of(b)) + 1,
                                                  zone_record{});
  }
}

}  // namespace

subbasin_flow_arrays make_flow_arrays(int tracer_count, int subbasin_count) {
  return subbasin_flow_arrays(static_cast<size_t>(tracer_count) + 1,
                              std::vector<double>(static_cast<size_t>(subbasin_count) + 1, 0.0));
}

double m3s_to_mm(double q, double area_km2, double step_minutes) noexcept {
  return q * M3S_STEP_TO_MM * step_minutes / area_km2;
}

double mm_to_m3s(double depth_mm, double area_km2, double step_minutes) noexcept {
  return depth_mm * area_km2 * MM_TO_M3S_STEP / step_minutes;
}

int flow_time_zone(double steps) noexcept {
  if (!(steps >= 1)) return 1;
  return static_cast<int>(steps);
}

double flow_time_in_steps(double seconds, double step_minutes) noexcept {
  return std::ceil(seconds / SECONDS_PER_MINUTE / step_minutes);
}

void flow_time_zones(const flow_time_zone_setup& s, flow_time_queues& q) {
  DiagStream& diag = *s.diag;
  diag_entry(diag, "looking for longest flow travel time");
  const int n = s.subbasin_count;
  q.zone_counts.assign(static_cast<size_t>(n) + 1, 0.0);
  grid_matrix* times = s.flow_times;
  const int first = times != nullptr ? std::max(s.first_row, times->first_row()) : s.first_row;
  const int last = times != nullptr ? std::min(s.last_row, times->last_row()) : s.last_row;
  long outside = 0;  // cells whose flow time gives a zone below 0
  if (times != nullptr) {
    for (int r = first; r <= last; ++r)
      for (int c = 1; c <= s.ncols; ++c) {
        if (!own_cell(s, r, c)) continue;
        double& value = (*times)[r][c];
        const double steps =
            s.convert_seconds ? flow_time_in_steps(value, s.step_minutes) : std::trunc(value);
        if (steps < 0) ++outside;
        const int zone = flow_time_zone(steps);
        if (s.convert_seconds) value = zone;
        const int b = subbasin_of(s, r, c);
        if (b >= 1 && b <= n)
          q.zone_counts[static_cast<size_t>(b)] =
              std::max(q.zone_counts[static_cast<size_t>(b)], static_cast<double>(zone));
      }
  } else {
    std::fill(q.zone_counts.begin() + 1, q.zone_counts.end(), 1.0);
  }
  MPI_Barrier(MPI_COMM_WORLD);
  if (n > 0)
    MPI_Allreduce(MPI_IN_PLACE, q.zone_counts.data() + 1, n, MPI_DOUBLE, MPI_MAX, MPI_COMM_WORLD);
  MPI_Allreduce(MPI_IN_PLACE, &outside, 1, MPI_LONG, MPI_SUM, MPI_COMM_WORLD);
  MPI_Barrier(MPI_COMM_WORLD);
  allocate(s, q);

  if (times == nullptr) {
    for (auto* queues : {&q.direct, &q.interflow})
      for (auto& per_tracer : *queues)
        for (int b = 1; b <= n; ++b) per_tracer[static_cast<size_t>(b)][1].share = 1;
    if (s.rank == 0) {
      const std::string name = log_name(s.log_directory);
      log_file log(std::fopen(name.c_str(), "a"));
      if (log == nullptr)
        diag_entry(diag, s.log_open_warning, name, " could not be opened");
      else
        std::fputs(s.no_grid_text, log.get());
    }
    return;
  }
  if (outside > 0)
    diag_entry(diag, "WARNING: ", outside, " cells of ", s.flow_times_file,
               " have a flow time below -60 x the time step (", s.step_minutes,
               " min): they are counted in zone 1\n");

  auto& direct = q.direct[0];
  auto& inter = q.interflow[0];
  for (int r = first; r <= last; ++r) {
    diag << ".";
    for (int c = 1; c <= s.ncols; ++c) {
      if (!own_cell(s, r, c)) continue;
      const int b = subbasin_of(s, r, c);
      if (b < 1 || b > n) continue;
      const size_t zone = static_cast<size_t>(flow_time_zone((*times)[r][c]));
      const double w = weight_of(s, r, c);
      for (auto* queue : {&direct[static_cast<size_t>(b)], &inter[static_cast<size_t>(b)]}) {
        (*queue)[zone].count += w;
        (*queue)[zone].weight += w;
      }
    }
  }
  diag << "[end-entry]";

  MPI_Barrier(MPI_COMM_WORLD);
  MPI_Datatype record_type;
  MPI_Type_contiguous(5, MPI_DOUBLE, &record_type);
  MPI_Type_commit(&record_type);
  MPI_Op sum_op;
  MPI_Op_create(&sum_zone_counts, 1, &sum_op);
  for (int b = 1; b <= n; ++b) {
    std::vector<zone_record>& d = direct[static_cast<size_t>(b)];
    MPI_Allreduce(MPI_IN_PLACE, d.data(), static_cast<int>(d.size()), record_type, sum_op,
                  MPI_COMM_WORLD);
    std::vector<zone_record>& i = inter[static_cast<size_t>(b)];
    for (size_t k = 0; k < d.size(); ++k) {
      i[k].count = d[k].count;
      i[k].weight = d[k].weight;
    }
  }
  MPI_Op_free(&sum_op);
  MPI_Type_free(&record_type);
  MPI_Barrier(MPI_COMM_WORLD);

  log_file log;
  const std::string name = log_name(s.log_directory);
  if (s.rank == 0) {
    log.reset(std::fopen(name.c_str(), "a"));
    if (log == nullptr)
      diag_entry(diag, s.distribution_warning, name);
    else
      std::fputs(s.distribution_heading, log.get());
  }
  for (int b = 1; b <= n; ++b) {
    const int zones = q.zones_of(b);
    const double code = (*s.zones)[static_cast<size_t>(b)].code;
    if (log != nullptr)
      std::fprintf(log.get(), "TG\t%4d\t(%3d\tZonen):", static_cast<int>(code), zones);
    std::vector<zone_record>& d = direct[static_cast<size_t>(b)];
    double cells = 0;
    for (int k = 1; k <= zones; ++k) cells += d[static_cast<size_t>(k)].count;
    if (zones < 1 || cells == 0)
      fail_fatal(diag, 6, "all cells in ", s.flow_times_file, ", subbasin ", static_cast<int>(code),
                 " are NODATA!");
    for (int k = 1; k <= zones; ++k) {
      const double share = d[static_cast<size_t>(k)].count / cells;
      for (auto* queues : {&q.direct, &q.interflow})
        for (auto& per_tracer : *queues) {
          zone_record& rec = per_tracer[static_cast<size_t>(b)][static_cast<size_t>(k)];
          rec.share = share;
          rec.code = k;
        }
      if (log != nullptr) std::fprintf(log.get(), "\t%5.3f", share);
    }
    if (!(d[1].share > 0))
      fail_fatal(diag, 61, "in flow-travel-time grid: the first time zone of subbasin ", b,
                 " has no cells!");
    for (int k = 1; k <= zones; ++k) d[static_cast<size_t>(k)].count = 0;
    if (log != nullptr) std::fputs("\n", log.get());
  }
  log.reset();

  // The weights of zone k and beyond: the first steps' heads are averaged
  // over the whole subbasin. Only process 0 holds them, as the weight of
  // weight_scale steps of inflow, since the heads are summed over the
  // processes at the end of each step.
  for (int b = 1; b <= n; ++b) {
    const int zones = q.zones_of(b);
    for (auto* queue : {&direct[static_cast<size_t>(b)], &inter[static_cast<size_t>(b)]}) {
      std::vector<zone_record>& z = *queue;
      for (int k = zones - 1; k >= 1; --k) {
        z[static_cast<size_t>(k)].count += z[static_cast<size_t>(k) + 1].count;
        z[static_cast<size_t>(k)].weight += z[static_cast<size_t>(k) + 1].weight;
      }
      for (int k = 0; k <= zones; ++k) {
        zone_record& rec = z[static_cast<size_t>(k)];
        if (s.rank == 0) {
          rec.weight *= s.weight_scale;
        } else {
          rec.count = 0;
          rec.weight = 0;
        }
      }
    }
  }
}

void shift_zone_queues(flow_time_queues& q) noexcept {
  for (auto* queues : {&q.direct, &q.interflow})
    for (auto& per_tracer : *queues)
      for (size_t b = 1; b < per_tracer.size(); ++b) {
        std::vector<zone_record>& z = per_tracer[b];
        const size_t zones = static_cast<size_t>(q.zones_of(static_cast<int>(b)));
        if (zones < 1 || z.size() <= zones) continue;
        for (size_t k = 2; k <= zones; ++k) {
          z[k - 1].count = z[k].count;
          z[k - 1].sum = z[k].sum;
          z[k - 1].weight = z[k].weight;
        }
        z[zones].count = z[zones].sum = z[zones].weight = 0;
      }
}
