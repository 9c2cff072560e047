#include "settings/zonetable.h"

#include <mpi.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "modelbase/modelobject.h"

static_assert(sizeof(row_strip) == 2 * sizeof(int), "row_strip must be two ints");
static_assert(sizeof(zone_record) == 5 * sizeof(double), "zone_record must be five doubles");

namespace {

// The zone code of a cell value: its whole part. False when that part lies
// outside 0..MAX_ZONE_CODE (a NaN too).
bool zone_code_of(double value, int& code) {
  if (!(value > -1.0 && value < MAX_ZONE_CODE + 1.0)) return false;
  code = static_cast<int>(value);
  return true;
}

// Process 0: the whole table from the whole zone grid.
void rank_on_process_0(modelobject& owner, const grid_store& store, const grid_matrix* weights,
                       int ncols, int nrows, double nodata, double cellsize, zone_table& t) {
  DiagStream& diag = owner.diagnostics();
  const grid_entry& entry = store[1];
  const std::string file_name = entry.file_name ? *entry.file_name : std::string();
  diag_entry(diag, "ranking zones from ", file_name, " for ", owner.object_name());

  auto work = owner.checked_array<zone_record>(MAX_ZONES + 1, 1);
  auto index_of = owner.checked_array<int>(MAX_ZONE_CODE + 1, 1);
  t.strips = owner.checked_array<row_strip>(static_cast<size_t>(nrows) + 1, 1);
  t.zone_count = 0;
  t.max_zone_code = 0;
  const grid_matrix* zone = entry.grid;

  auto fail_nodata = [&]() {
    fail_fatal(diag, NO_ZONE_CODE, "all cells in the zone grid ", file_name, " are NODATA!");
  };
  if (zone == nullptr) fail_nodata();

  for (int row = 1; row <= nrows; ++row) {
    row_strip& span = t.strips[static_cast<size_t>(row)];
    span = row_strip{};
    const double* z = (*zone)[row];
    for (int col = 1; col <= ncols; ++col) {
      if (z[col] == nodata) continue;
      if (span.first == 0) span.first = col;
      span.last = col;
      int code = 0;
      if (!zone_code_of(z[col], code))
        fail_fatal(diag, INVALID_ZONE_CODE, "invalid zone code in ", file_name,
                   "!\n (codes has to be between 0 and ", MAX_ZONE_CODE, ")!");
      if (index_of[static_cast<size_t>(code)] != 0) continue;
      if (t.zone_count == MAX_ZONES)
        fail_fatal(diag, TOO_MANY_ZONES_CODE, "too much zones in ", file_name, ", (max. ",
                   MAX_ZONES, ")!");
      ++t.zone_count;
      t.max_zone_code = std::max(t.max_zone_code, code);
      index_of[static_cast<size_t>(code)] = t.zone_count;
      // Zones are known by their whole code, also for cells with fractions.
      work[static_cast<size_t>(t.zone_count)] = zone_record{0, 0, static_cast<double>(code), 0, 0};
    }
  }

  // Ascending codes; each exchange keeps the code-to-index array in step.
  for (int pass = 0; pass < t.zone_count - 1; ++pass) {
    bool exchanged = false;
    for (int k = 1; k < t.zone_count - pass; ++k) {
      zone_record& a = work[static_cast<size_t>(k)];
      zone_record& b = work[static_cast<size_t>(k) + 1];
      if (a.code <= b.code) continue;
      std::swap(a, b);
      index_of[static_cast<size_t>(std::lround(a.code))] = k;
      index_of[static_cast<size_t>(std::lround(b.code))] = k + 1;
      exchanged = true;
    }
    if (!exchanged) break;
  }

  t.records.assign(work.begin(), work.begin() + t.zone_count + 1);
  t.code_to_index.assign(index_of.begin(), index_of.begin() + t.max_zone_code + 1);

  for (int row = 1; row <= nrows; ++row) {
    const double* z = (*zone)[row];
    const double* w = weights != nullptr ? (*weights)[row] : nullptr;
    for (int col = 1; col <= ncols; ++col) {
      if (z[col] == nodata) continue;
      int code = 0;
      zone_code_of(z[col], code);
      zone_record& r = t.records[static_cast<size_t>(t.code_to_index[static_cast<size_t>(code)])];
      const double weight = w != nullptr ? w[col] : 1.0;
      r.sum += 1;
      r.count += weight;
      r.weight += weight;
    }
  }

  double total = 0;
  for (int k = 1; k <= t.zone_count; ++k) total += t.records[static_cast<size_t>(k)].count;
  if (t.zone_count == 0 || total == 0) fail_nodata();
  for (int k = 1; k <= t.zone_count; ++k)
    t.records[static_cast<size_t>(k)].share = t.records[static_cast<size_t>(k)].count / total;
  t.records[0] = zone_record{0, 0, 0, total * cellsize * cellsize / 1000000.0, 0};
}

}  // namespace

void zone_table::rank_zone_grid(modelobject& owner, const grid_store& store,
                                const grid_matrix* weights, int ncols, int nrows, double nodata,
                                double cellsize, int first_own_row, int last_own_row) {
  int rank = 0;
  int processes = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &processes);

  // An error of process 0 reaches the others through the first broadcast.
  int status = 0;
  if (rank == 0) {
    try {
      rank_on_process_0(owner, store, weights, ncols, nrows, nodata, cellsize, *this);
    } catch (int code) {
      if (processes == 1) throw;
      status = code;
    }
  }
  if (processes == 1) return;

  std::array<int, 3> head = {status, zone_count, max_zone_code};
  MPI_Bcast(head.data(), 3, MPI_INT, 0, MPI_COMM_WORLD);
  if (head[0] != 0) throw head[0];
  if (rank != 0) {
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

  if (rank != 0)
    for (int row = 0; row <= nrows; ++row)
      if (row < first_own_row || row > last_own_row) strips[static_cast<size_t>(row)] = row_strip{};
}
