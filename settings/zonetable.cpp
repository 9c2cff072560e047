#include "settings/zonetable.h"

#include <mpi.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <utility>
#include <vector>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "modelbase/modelobject.h"
#include "settings/first_in_row_order.h"
#include "settings/rank0_status.h"

static_assert(sizeof(row_strip) == 2 * sizeof(int), "row_strip must be two ints");
static_assert(sizeof(zone_record) == 5 * sizeof(double), "zone_record must be five doubles");

bool zone_code_of(double value, int& code) {
  const double nearest = std::floor(value + 0.5);
  if (!(nearest >= 0 && nearest <= MAX_ZONE_CODE)) return false;
  code = static_cast<int>(nearest);
  return true;
}

namespace {

// The entries of a ranking, as the settings object and the modules word them.
[[noreturn]] void fail_invalid_code(DiagStream& diag, zone_ranker ranker,
                                    const std::string& file) {
  if (ranker == zone_ranker::settings_object)
    fail_fatal(diag, INVALID_ZONE_CODE, "invalid zone code in ", file,
               "!\n (codes has to be between 0 and ", MAX_ZONE_CODE, ")!");
  fail_fatal(diag, INVALID_ZONE_CODE, "wrong zone index in ", file,
             "!\n Zones have to range from 0 to ", MAX_ZONE_CODE, "!");
}

[[noreturn]] void fail_too_many_zones(DiagStream& diag, zone_ranker ranker,
                                      const std::string& file) {
  if (ranker == zone_ranker::settings_object)
    fail_fatal(diag, TOO_MANY_ZONES_CODE, "too much zones in ", file, ", (max. ", MAX_ZONES,
               ")!");
  fail_fatal(diag, TOO_MANY_ZONES_CODE, "too much zones in ", file, ", (max. ", MAX_ZONES, "!)");
}

[[noreturn]] void fail_all_nodata(DiagStream& diag, zone_ranker ranker, const std::string& file) {
  if (ranker == zone_ranker::settings_object)
    fail_fatal(diag, NO_ZONE_CODE, "all cells in the zone grid ", file, " are NODATA!");
  fail_fatal(diag, NO_ZONE_CODE, "all cells in ", file, " are NODATA!");
}

[[noreturn]] void fail_too_many_subbasins(DiagStream& diag, int zone_count,
                                          const std::string& owner_name) {
  fail_fatal(diag, TOO_MANY_ZONES_CODE, "too much subbasins (", zone_count, ") in ", owner_name,
             " (max. ", MAX_SUBBASINS, "). Ende!");
}

// Calls visit(row, column, value) for every cell with zone data, row by row,
// within the spans to scan. Rows the grid does not hold are skipped.
template <class Visit>
void for_each_zone_cell(const zone_grid_input& in, const zone_grid_frame& f, Visit&& visit) {
  const grid_matrix& grid = *in.grid;
  for (int row = 1; row <= f.nrows; ++row) {
    if (row >= grid.pointer_count() || grid[row] == nullptr) continue;
    row_strip span{1, f.ncols};
    if (in.spans != nullptr)
      span = row < static_cast<int>(in.spans->size()) ? (*in.spans)[static_cast<size_t>(row)]
                                                      : row_strip{};
    const double* z = grid[row];
    for (int col = std::max(span.first, 1); col <= std::min(span.last, f.ncols); ++col)
      if (z[col] != f.nodata) visit(row, col, z[col]);
  }
}

// The weight of a cell: its value in the weight grid, or 1.
double weight_of(const grid_matrix* weights, int row, int col) {
  if (weights == nullptr || row >= weights->pointer_count() || (*weights)[row] == nullptr)
    return 1.0;
  return (*weights)[row][col];
}

// Process 0: the whole table from the whole zone grid.
void rank_on_process_0(modelobject& owner, zone_ranker ranker, const zone_grid_input& in,
                       const zone_grid_frame& f, zone_table& t) {
  DiagStream& diag = owner.diagnostics();
  diag_entry(diag, "ranking zones from ", in.file_name, " for ", owner.object_name());

  auto work = owner.checked_array<zone_record>(MAX_ZONES + 1, 1);
  auto index_of = owner.checked_array<int>(MAX_ZONE_CODE + 1, 1);
  t.strips = owner.checked_array<row_strip>(static_cast<size_t>(f.nrows) + 1, 1);
  t.zone_count = 0;
  t.max_zone_code = 0;
  if (in.grid == nullptr) fail_all_nodata(diag, ranker, in.file_name);

  for_each_zone_cell(in, f, [&](int row, int col, double value) {
    row_strip& span = t.strips[static_cast<size_t>(row)];
    if (span.first == 0) span.first = col;
    span.last = col;
    int code = 0;
    if (!zone_code_of(value, code)) fail_invalid_code(diag, ranker, in.file_name);
    if (index_of[static_cast<size_t>(code)] != 0) return;
    if (t.zone_count == MAX_ZONES) fail_too_many_zones(diag, ranker, in.file_name);
    ++t.zone_count;
    t.max_zone_code = std::max(t.max_zone_code, code);
    index_of[static_cast<size_t>(code)] = t.zone_count;
    work[static_cast<size_t>(t.zone_count)] = zone_record{0, 0, static_cast<double>(code), 0, 0};
  });

  // Ascending codes; the codes are distinct whole numbers.
  std::sort(work.begin() + 1, work.begin() + t.zone_count + 1,
            [](const zone_record& a, const zone_record& b) { return a.code < b.code; });
  for (int k = 1; k <= t.zone_count; ++k)
    index_of[static_cast<size_t>(work[static_cast<size_t>(k)].code)] = k;

  t.records.assign(work.begin(), work.begin() + t.zone_count + 1);
  t.code_to_index.assign(index_of.begin(), index_of.begin() + t.max_zone_code + 1);

  for_each_zone_cell(in, f, [&](int row, int col, double value) {
    int code = 0;
    zone_code_of(value, code);
    zone_record& r = t.records[static_cast<size_t>(t.code_to_index[static_cast<size_t>(code)])];
    const double weight = weight_of(in.weights, row, col);
    r.sum += 1;
    r.count += weight;
    r.weight += weight;
  });

  // The total is kept as it is: cut to whole cells it would make the shares
  // miss 1 and refuse a basin of cells weighted below 1.
  double total = 0;
  for (int k = 1; k <= t.zone_count; ++k) total += t.records[static_cast<size_t>(k)].count;
  if (t.zone_count == 0 || total == 0) fail_all_nodata(diag, ranker, in.file_name);
  for (int k = 1; k <= t.zone_count; ++k)
    t.records[static_cast<size_t>(k)].share = t.records[static_cast<size_t>(k)].count / total;
  const double basin_code = ranker == zone_ranker::submodel ? 1 : 0;
  t.records[0] = zone_record{0, 0, basin_code, total * f.cellsize * f.cellsize / 1000000.0, 0};
  if (ranker == zone_ranker::submodel && t.zone_count > MAX_SUBBASINS)
    fail_too_many_subbasins(diag, t.zone_count, owner.object_name());
}

}  // namespace

void zone_table::rank_zone_grid(modelobject& owner, const grid_store& store,
                                const grid_matrix* weights, int ncols, int nrows, double nodata,
                                double cellsize, int first_own_row, int last_own_row) {
  zone_grid_input in;
  int process_rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &process_rank);
  if (process_rank == 0) {
    const grid_entry& entry = store[1];
    in.grid = entry.grid;
    in.file_name = entry.file_name ? *entry.file_name : std::string();
    in.weights = weights;
  }
  rank_zones(owner, zone_ranker::settings_object, in,
       zone_grid_frame{ncols, nrows, nodata, cellsize, first_own_row, last_own_row});
}

void zone_table::rank_zones(modelobject& owner, zone_ranker ranker, const zone_grid_input& input,
                            const zone_grid_frame& frame) {
  int process_rank = 0;
  int processes = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &process_rank);
  MPI_Comm_size(MPI_COMM_WORLD, &processes);

  // An error of process 0 reaches the others through the first broadcast.
  int status = 0;
  if (process_rank == 0) {
    try {
      rank_on_process_0(owner, ranker, input, frame, *this);
    } catch (int code) {
      if (processes == 1) throw;
      status = code;
    }
  }
  if (processes == 1) return;

  const int nrows = frame.nrows;
  std::array<int, 3> head = {status, zone_count, max_zone_code};
  MPI_Bcast(head.data(), 3, MPI_INT, 0, MPI_COMM_WORLD);
  if (head[0] != 0) throw head[0];
  if (process_rank != 0) {
    zone_count = head[1];
    max_zone_code = head[2];
    strips = owner.checked_array<row_strip>(static_cast<size_t>(nrows) + 1, 1);
    records = owner.checked_array<zone_record>(static_cast<size_t>(zone_count) + 1, 1);
    code_to_index = owner.checked_array<int>(static_cast<size_t>(max_zone_code) + 1, 1);
  }

  MPI_Bcast(code_to_index.data(), max_zone_code + 1, MPI_INT, 0, MPI_COMM_WORLD);
  MPI_Datatype record_type;
  MPI_Type_contiguous(5, MPI_DOUBLE, &record_type);
  MPI_Type_commit(&record_type);
  MPI_Bcast(records.data(), zone_count + 1, record_type, 0, MPI_COMM_WORLD);
  MPI_Type_free(&record_type);
  MPI_Datatype strip_type;
  MPI_Type_contiguous(2, MPI_INT, &strip_type);
  MPI_Type_commit(&strip_type);
  MPI_Bcast(strips.data(), nrows + 1, strip_type, 0, MPI_COMM_WORLD);
  MPI_Type_free(&strip_type);

  if (process_rank != 0)
    for (int row = 0; row <= nrows; ++row)
      if (row < frame.first_own_row || row > frame.last_own_row)
        strips[static_cast<size_t>(row)] = row_strip{};
}

void zone_table::rank_zone_grid_by_bands(modelobject& owner, const std::string& file_name,
                                         const grid_matrix& zone, const grid_matrix& owners,
                                         const zone_grid_frame& f) {
  int me = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &me);
  DiagStream& diag = owner.diagnostics();
  if (me == 0) diag_entry(diag, "ranking zones from ", file_name, " for ", owner.object_name());

  // The first positions of the invalid cells and of each code tell which
  // error a walk in row order meets first (codes_in_row_order); cell counts
  // are whole numbers, exact in any order.
  const auto codes = static_cast<size_t>(MAX_ZONE_CODE) + 1U;
  long long first_invalid = NOT_SEEN;
  std::vector<long long> first_seen(codes, NOT_SEEN);
  std::vector<long long> cells(codes, 0);
  const auto rows = static_cast<size_t>(f.nrows) + 1U;
  std::vector<int> span_first(rows, INT_MAX);
  std::vector<int> span_last(rows, -1);
  const int from = me == 0 ? 1 : std::max(1, f.first_own_row);
  const int to = me == 0 ? f.nrows : std::min(f.nrows, f.last_own_row);
  const auto mine = static_cast<double>(me);
  for (int row = from; row <= to; ++row) {
    const double* z = zone[row];
    const double* o = owners[row];
    for (int col = 1; col <= f.ncols; ++col) {
      if (z[col] == f.nodata) continue;
      if (!(o[col] == mine || (me == 0 && !(o[col] >= 0)))) continue;
      const auto r = static_cast<size_t>(row);
      span_first[r] = std::min(span_first[r], col);
      span_last[r] = std::max(span_last[r], col);
      const long long position = static_cast<long long>(row - 1) * f.ncols + (col - 1);
      int code = 0;
      if (!zone_code_of(z[col], code)) {
        first_invalid = std::min(first_invalid, position);
        continue;
      }
      long long& seen = first_seen[static_cast<size_t>(code)];
      seen = std::min(seen, position);
      ++cells[static_cast<size_t>(code)];
    }
  }
  const std::vector<int> met = codes_in_row_order(first_invalid, first_seen);
  run_on_rank0_and_share_error(me, [&] {
    if (static_cast<int>(met.size()) > MAX_ZONES)
      fail_too_many_zones(diag, zone_ranker::settings_object, file_name);
    if (first_invalid != NOT_SEEN) fail_invalid_code(diag, zone_ranker::settings_object, file_name);
  });

  MPI_Allreduce(MPI_IN_PLACE, cells.data(), static_cast<int>(codes), MPI_LONG_LONG, MPI_SUM,
                MPI_COMM_WORLD);
  MPI_Allreduce(MPI_IN_PLACE, span_first.data(), static_cast<int>(rows), MPI_INT, MPI_MIN,
                MPI_COMM_WORLD);
  MPI_Allreduce(MPI_IN_PLACE, span_last.data(), static_cast<int>(rows), MPI_INT, MPI_MAX,
                MPI_COMM_WORLD);

  // Ascending codes, each zone's cells counted once per cell (weight 1).
  std::vector<int> ascending = met;
  std::sort(ascending.begin(), ascending.end());
  zone_count = static_cast<int>(ascending.size());
  max_zone_code = ascending.empty() ? 0 : ascending.back();
  records.assign(static_cast<size_t>(zone_count) + 1U, zone_record{});
  code_to_index.assign(static_cast<size_t>(max_zone_code) + 1U, 0);
  double total = 0;
  for (int k = 1; k <= zone_count; ++k) {
    const int code = ascending[static_cast<size_t>(k) - 1U];
    const auto n = static_cast<double>(cells[static_cast<size_t>(code)]);
    records[static_cast<size_t>(k)] = zone_record{n, n, static_cast<double>(code), 0, n};
    code_to_index[static_cast<size_t>(code)] = k;
    total += n;
  }
  run_on_rank0_and_share_error(me, [&] {
    if (zone_count == 0 || total == 0)
      fail_all_nodata(diag, zone_ranker::settings_object, file_name);
  });
  for (int k = 1; k <= zone_count; ++k)
    records[static_cast<size_t>(k)].share = records[static_cast<size_t>(k)].count / total;
  records[0] = zone_record{0, 0, 0, total * f.cellsize * f.cellsize / 1000000.0, 0};

  // Spans of every row on process 0, of the own rows elsewhere.
  strips.assign(rows, row_strip{});
  for (int row = 1; row <= f.nrows; ++row) {
    const auto r = static_cast<size_t>(row);
    if (span_first[r] == INT_MAX) continue;
    if (me != 0 && (row < f.first_own_row || row > f.last_own_row)) continue;
    strips[r] = row_strip{span_first[r], span_last[r]};
  }
}
