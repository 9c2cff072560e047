#include "modelbase/distribution.h"

#include <mpi.h>

#include <algorithm>
#include <climits>
#include <cstddef>

#include "modelbase/diagstream.h"
#include "modelbase/memhandling.h"

namespace distribution {

namespace {

[[noreturn]] void fail_helper_overflow(const distribution_view& v, int row, bool stack_wording) {
  if (stack_wording)
    fail_fatal(*v.diag, HELPER_OVERFLOW_CODE,
               "MPI-Regions: to much strips to be stored in a grid row (in row ", row, ")");
  fail_fatal(*v.diag, HELPER_OVERFLOW_CODE,
             "MPI-Regions: to much strips to be stored in a grid row in row ", row);
}

// Process 0: the runs of row along its span, f(owner value, first column,
// number of cells). The list ends at the first pair with fewer than one cell
// or once the span is covered; a list that still goes on when the row has no
// room for a further pair is an error.
template <class F>
void for_each_run_all(const distribution_view& v, int row, bool stack_wording, F f) {
  const double* h = (*v.helper)[row];
  if (h == nullptr) return;
  // Without the zone spans the row's runs start after its leading nodata cells.
  const row_strip span = v.strips != nullptr ? (*v.strips)[static_cast<size_t>(row)]
                                             : row_strip{static_cast<int>(h[0]) + 1, v.ncols};
  if (span.first <= 0 || span.first > v.ncols) return;
  int col = span.first;
  for (int pos = 1;; pos += 2) {
    if (col > span.last) return;
    if (pos + 1 > v.ncols) fail_helper_overflow(v, row, stack_wording);
    const int count = static_cast<int>(h[pos + 1]);
    if (count < 1) return;
    if (col + count - 1 > v.ncols) fail_helper_overflow(v, row, stack_wording);
    f(h[pos], col, count);
    col += count;
  }
}

// Other processes: their own runs of row, f(first column, number of cells).
template <class F>
void for_each_own_run(const distribution_view& v, int row, bool stack_wording, F f) {
  const double* h = (*v.helper)[row];
  if (h == nullptr) return;
  for (int pos = 1; pos + 1 <= v.ncols; pos += 2) {
    const int col = static_cast<int>(h[pos]);
    if (col < 1) return;
    const int count = static_cast<int>(h[pos + 1]);
    if (count < 1 || col + count - 1 > v.ncols) fail_helper_overflow(v, row, stack_wording);
    f(col, count);
  }
}

int owner_of(double value) { return value > 0 ? static_cast<int>(value) : 0; }

int band_first(const distribution_view& v) { return std::max(v.first_row, 1); }
int band_last(const distribution_view& v) { return std::min(v.last_row, v.nrows); }

int message_size(int cells, int levels) { return cells * (levels + 1); }

// Transfers of many runs are all posted first and waited for together, so
// that no process waits for each run in turn for its partner to be scheduled.
struct posted_transfers {
  std::vector<MPI_Request> requests;
  void send(const double* data, int count, int to, int tag) {
    requests.emplace_back();
    MPI_Isend(data, count, MPI_DOUBLE, to, tag, MPI_COMM_WORLD, &requests.back());
  }
  void receive(double* data, int count, int from, int tag) {
    requests.emplace_back();
    MPI_Irecv(data, count, MPI_DOUBLE, from, tag, MPI_COMM_WORLD, &requests.back());
  }
  void wait() {
    MPI_Waitall(static_cast<int>(requests.size()), requests.data(), MPI_STATUSES_IGNORE);
  }
};

// The runs one process exchanges with each partner, described in place as a
// derived datatype per message, so that all of a partner's runs move as one
// message (or a few, see MESSAGE_DOUBLES) instead of one message per run.
// Both ends list a partner's runs in the same order (rows ascending, columns
// ascending), so they split them into the same messages.
class partner_messages {
 public:
  explicit partner_messages(int process_count)
      : by_partner_(static_cast<size_t>(std::max(process_count, 1))) {}

  // A run of count doubles from first, in row.
  void add(int partner, int row, const double* first, int count) {
    if (static_cast<size_t>(partner) >= by_partner_.size())
      by_partner_.resize(static_cast<size_t>(partner) + 1);
    std::vector<message>& list = by_partner_[static_cast<size_t>(partner)];
    if (list.empty() || list.back().doubles + count > MESSAGE_DOUBLES)
      list.push_back({row, {}, {}, 0});
    message& m = list.back();
    MPI_Aint address = 0;
    MPI_Get_address(first, &address);
    m.addresses.push_back(address);
    m.lengths.push_back(count);
    m.doubles += count;
  }

  // Posts every message (sends or receives), then waits for all of them.
  void transfer(bool send) {
    std::vector<MPI_Request> requests;
    std::vector<MPI_Datatype> types;
    for (size_t partner = 0; partner < by_partner_.size(); ++partner)
      for (const message& m : by_partner_[partner]) {
        MPI_Datatype type = MPI_DATATYPE_NULL;
        MPI_Type_create_hindexed(static_cast<int>(m.lengths.size()), m.lengths.data(),
                                 m.addresses.data(), MPI_DOUBLE, &type);
        MPI_Type_commit(&type);
        types.push_back(type);
        requests.emplace_back();
        if (send)
          MPI_Isend(MPI_BOTTOM, 1, type, static_cast<int>(partner), m.tag, MPI_COMM_WORLD,
                    &requests.back());
        else
          MPI_Irecv(MPI_BOTTOM, 1, type, static_cast<int>(partner), m.tag, MPI_COMM_WORLD,
                    &requests.back());
      }
    MPI_Waitall(static_cast<int>(requests.size()), requests.data(), MPI_STATUSES_IGNORE);
    for (MPI_Datatype& type : types) MPI_Type_free(&type);
  }

 private:
  // At most this many doubles (256 MiB) per message, which keeps the byte
  // size of every message well inside int range.
  static constexpr int64_t MESSAGE_DOUBLES = int64_t{1} << 25;

  struct message {
    int tag;  // the row of the message's first run
    std::vector<MPI_Aint> addresses;
    std::vector<int> lengths;
    int64_t doubles;
  };
  std::vector<std::vector<message>> by_partner_;
};

// The owners send their runs of rows first..last to process 0, depth doubles
// per cell; at(row, col) is the address of a cell on this process. Process 0
// walks every row of the range, the owners the part of their band in it, each
// checking its run lists before anything moves.
//
// Gathers go as one message per owner (the MPI library packs the runs on the
// owners, all at once, and unpacks them into place at process 0): one message
// per run made process 0 match and fetch every run in turn, and got slower
// per megabyte the more processes sent to it. Scatters keep one message per
// run: each owner then fetches its own runs from process 0's rows, all owners
// at once, while one message per owner would leave all packing to process 0.
template <class At>
void gather_runs_in(const distribution_view& v, int first, int last, bool stack_wording,
                    int depth, At at) {
  partner_messages messages(v.process_count);
  if (v.rank == 0) {
    for (int row = first; row <= last; ++row)
      for_each_run_all(v, row, stack_wording, [&](double value, int col, int count) {
        const int owner = owner_of(value);
        if (owner > 0) messages.add(owner, row, at(row, col), count * depth);
      });
  } else {
    for (int row = std::max(first, band_first(v)); row <= std::min(last, band_last(v)); ++row)
      for_each_own_run(v, row, stack_wording, [&](int col, int count) {
        messages.add(0, row, at(row, col), count * depth);
      });
  }
  messages.transfer(v.rank != 0);
}

}  // namespace

void scatter_grid(const distribution_view& v, grid_matrix& grid) {
  if (!v.distributed()) return;
  posted_transfers posted;
  if (v.rank == 0) {
    for (int row = 1; row <= v.nrows; ++row)
      for_each_run_all(v, row, false, [&](double value, int col, int count) {
        const int owner = owner_of(value);
        if (owner > 0) posted.send(&grid[row][col], count, owner, row);
      });
  } else {
    for (int row = band_first(v); row <= band_last(v); ++row)
      for_each_own_run(v, row, false,
                       [&](int col, int count) { posted.receive(&grid[row][col], count, 0, row); });
  }
  posted.wait();
}

namespace {

// The owners send their runs of every row to process 0; process 0 receives
// them into target.
void gather_runs(const distribution_view& v, const grid_matrix& source, grid_matrix& target) {
  const grid_matrix& here = v.rank == 0 ? target : source;
  gather_runs_in(v, 1, v.nrows, false, 1, [&](int row, int col) { return &here[row][col]; });
}

void gather_stack_runs(const distribution_view& v, const stack_matrix& source, stack_matrix& target,
                       int levels) {
  const stack_matrix& here = v.rank == 0 ? target : source;
  gather_runs_in(v, 1, v.nrows, true, levels + 1,
                 [&](int row, int col) { return here[row][col]; });
}

}  // namespace

void gather_grid(const distribution_view& v, grid_matrix& grid) {
  if (!v.distributed()) return;
  gather_runs(v, grid, grid);
}

grid_matrix gather_grid_copy(const distribution_view& v, memory_handling& alloc,
                             const grid_matrix& grid) {
  // Without a division process 0 holds every cell itself.
  if (v.regions == nullptr) return v.rank == 0 ? grid.clone() : grid_matrix();
  grid_matrix copy;
  if (v.rank == 0) {
    copy = alloc.matrix_for_overwrite(1, v.nrows, 1, v.ncols, 0);
    const grid_matrix& regions = *v.regions;
    for (int row = 1; row <= v.nrows; ++row) {
      const double* own = grid[row];
      double* out = copy[row];
      for (int col = 1; col <= v.ncols; ++col)
        out[col] = own != nullptr && regions[row][col] == 0 ? own[col] : v.nodata;
    }
  }
  if (v.distributed()) gather_runs(v, grid, copy);
  return copy;
}

void gather_band_copy(const distribution_view& v, const grid_matrix& grid, int first, int last,
                      double* band) {
  const size_t stride = static_cast<size_t>(v.ncols) + 1;
  if (v.rank == 0) {
    const grid_matrix& regions = *v.regions;
    for (int row = first; row <= last; ++row) {
      const double* own = grid[row];
      double* out = band + static_cast<size_t>(row - first) * stride;
      for (int col = 1; col <= v.ncols; ++col)
        out[col] = own != nullptr && regions[row][col] == 0 ? own[col] : v.nodata;
    }
  }
  if (v.distributed())
    gather_runs_in(v, first, last, false, 1, [&](int row, int col) -> const double* {
      if (v.rank != 0) return &grid[row][col];
      return band + static_cast<size_t>(row - first) * stride + col;
    });
}

void gather_stack(const distribution_view& v, stack_matrix& stack, int levels,
                  const std::string& grid_name) {
  if (!v.distributed()) return;
  diag_entry(*v.diag, "synchronising stack ", grid_name, " for mpi-rank ", v.rank);
  gather_stack_runs(v, stack, stack, levels);
}

stack_matrix gather_stack_copy(const distribution_view& v, memory_handling& alloc,
                               const stack_matrix& stack, int levels,
                               const std::string& grid_name) {
  if (v.regions == nullptr) {
    if (v.rank != 0) return stack_matrix();
    stack_matrix copy = alloc.matrix_3d(stack.first_row(), stack.last_row(), 1, stack.last_col(),
                                        levels, stack.pointer_count() - 1);
    const size_t depth = static_cast<size_t>(levels) + 1;
    for (int row = stack.first_row(); row <= stack.last_row(); ++row)
      std::copy(stack[row][0], stack[row][0] + (static_cast<size_t>(stack.last_col()) + 1) * depth,
                copy[row][0]);
    return copy;
  }
  if (v.distributed())
    diag_entry(*v.diag, "synchronising stack ", grid_name, " for mpi-rank ", v.rank);
  stack_matrix copy;
  if (v.rank == 0) {
    copy = alloc.matrix_3d(1, v.nrows, 1, v.ncols, levels, 0);
    const grid_matrix& regions = *v.regions;
    for (int row = 1; row <= v.nrows; ++row) {
      double* const* own = stack[row];
      for (int col = 1; col <= v.ncols; ++col) {
        double* out = copy[row][col];
        const bool mine = own != nullptr && regions[row][col] == 0;
        for (int level = 0; level <= levels; ++level)
          out[level] = mine ? own[col][level] : v.nodata;
      }
    }
  }
  if (v.distributed()) gather_stack_runs(v, stack, copy, levels);
  return copy;
}

void gather_stack_band_copy(const distribution_view& v, const stack_matrix& stack, int levels,
                            int first, int last, double* band) {
  const size_t depth = static_cast<size_t>(levels) + 1;
  const size_t stride = (static_cast<size_t>(v.ncols) + 1) * depth;
  if (v.rank == 0) {
    const grid_matrix& regions = *v.regions;
    for (int row = first; row <= last; ++row) {
      double* const* own = stack[row];
      double* out = band + static_cast<size_t>(row - first) * stride;
      for (int col = 1; col <= v.ncols; ++col) {
        const bool mine = own != nullptr && regions[row][col] == 0;
        for (size_t level = 0; level < depth; ++level)
          out[static_cast<size_t>(col) * depth + level] = mine ? own[col][level] : v.nodata;
      }
    }
  }
  if (v.distributed())
    gather_runs_in(v, first, last, true, levels + 1, [&](int row, int col) -> const double* {
      if (v.rank != 0) return stack[row][col];
      return band + static_cast<size_t>(row - first) * stride + static_cast<size_t>(col) * depth;
    });
}

void scatter_stack(const distribution_view& v, stack_matrix& stack, int levels) {
  if (!v.distributed()) return;
  posted_transfers posted;
  if (v.rank == 0) {
    for (int row = 1; row <= v.nrows; ++row)
      for_each_run_all(v, row, false, [&](double value, int col, int count) {
        const int owner = owner_of(value);
        if (owner > 0) posted.send(stack[row][col], message_size(count, levels), owner, row);
      });
  } else {
    for (int row = band_first(v); row <= band_last(v); ++row)
      for_each_own_run(v, row, false, [&](int col, int count) {
        posted.receive(stack[row][col], message_size(count, levels), 0, row);
      });
  }
  posted.wait();
}

namespace {

// Posts every send and receive of the two lists, then waits for all of them.
template <class Address>
void exchange_runs(const distribution_view& v, int levels, bool row_tags, Address address) {
  const std::vector<halo_run> none;
  const std::vector<halo_run>& send = v.halo_send != nullptr ? *v.halo_send : none;
  const std::vector<halo_run>& receive = v.halo_receive != nullptr ? *v.halo_receive : none;
  std::vector<MPI_Request> requests;
  requests.reserve(send.size() + receive.size());
  for (const halo_run& run : send) {
    requests.emplace_back();
    MPI_Isend(address(run), message_size(run.count, levels), MPI_DOUBLE, run.neighbour,
              row_tags ? run.row : 0, MPI_COMM_WORLD, &requests.back());
  }
  for (const halo_run& run : receive) {
    requests.emplace_back();
    MPI_Irecv(address(run), message_size(run.count, levels), MPI_DOUBLE, run.neighbour,
              row_tags ? run.row : 0, MPI_COMM_WORLD, &requests.back());
  }
  MPI_Waitall(static_cast<int>(requests.size()), requests.data(), MPI_STATUSES_IGNORE);
}

}  // namespace

void exchange_halo(const distribution_view& v, grid_matrix& grid) {
  exchange_runs(v, 0, true, [&](const halo_run& run) { return &grid[run.row][run.first_col]; });
}

void exchange_halo_stack(const distribution_view& v, stack_matrix& stack, int levels) {
  exchange_runs(v, levels, false,
                [&](const halo_run& run) { return stack[run.row][run.first_col]; });
}

namespace {

// Adds count, weighted sum and weight sum element by element; zone code and
// area share stay as they are.
void sum_zone_records_op(void* in, void* inout, int* len, MPI_Datatype* /*type*/) {
  const auto* a = static_cast<const zone_record*>(in);
  auto* b = static_cast<zone_record*>(inout);
  for (int k = 0; k < *len; ++k) {
    b[k].count += a[k].count;
    b[k].sum += a[k].sum;
    b[k].weight += a[k].weight;
  }
}

static_assert(sizeof(zone_record) == 5 * sizeof(double), "zone_record must be five doubles");

}  // namespace

void reduce_zone_records(zone_record* records, int last, bool also_weight) {
  const int n = last + 1;
  if (n <= 0) return;
  MPI_Datatype record_type;
  MPI_Type_contiguous(5, MPI_DOUBLE, &record_type);
  MPI_Type_commit(&record_type);
  MPI_Op op;
  MPI_Op_create(&sum_zone_records_op, 1, &op);
  std::vector<zone_record> result(static_cast<size_t>(n));
  MPI_Reduce(records, result.data(), n, record_type, op, 0, MPI_COMM_WORLD);
  MPI_Op_free(&op);
  MPI_Type_free(&record_type);
  for (int k = 0; k < n; ++k) {
    records[k].count = result[static_cast<size_t>(k)].count;
    records[k].sum = result[static_cast<size_t>(k)].sum;
    if (also_weight) records[k].weight = result[static_cast<size_t>(k)].weight;
  }
}

void broadcast_zone_records(zone_record* records, int last) {
  const int n = last + 1;
  if (n <= 0) return;
  std::vector<zone_record> buffer(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) {
    buffer[static_cast<size_t>(k)].count = records[k].count;
    buffer[static_cast<size_t>(k)].sum = records[k].sum;
    buffer[static_cast<size_t>(k)].weight = records[k].weight;
  }
  const int lengths[5] = {1, 1, 1, 1, 1};
  const MPI_Aint offsets[5] = {0, 8, 16, 24, 32};
  const MPI_Datatype types[5] = {MPI_DOUBLE, MPI_DOUBLE, MPI_DOUBLE, MPI_DOUBLE, MPI_DOUBLE};
  MPI_Datatype record_type;
  MPI_Type_create_struct(5, lengths, offsets, types, &record_type);
  MPI_Type_commit(&record_type);
  MPI_Bcast(buffer.data(), n, record_type, 0, MPI_COMM_WORLD);
  MPI_Type_free(&record_type);
  for (int k = 0; k < n; ++k) {
    records[k].count = buffer[static_cast<size_t>(k)].count;
    records[k].sum = buffer[static_cast<size_t>(k)].sum;
    records[k].weight = buffer[static_cast<size_t>(k)].weight;
  }
}

namespace {

// The masked cells in the order both ends pack them: rows ascending, columns
// along each row's span; f(row, col, owner).
template <class F>
void for_each_masked_cell(const distribution_view& v, const grid_matrix& mask, F f) {
  const int first = v.rank == 0 ? 1 : band_first(v);
  const int last = v.rank == 0 ? v.nrows : band_last(v);
  for (int row = first; row <= last; ++row) {
    int span_first = 1;
    int span_last = v.ncols;
    if (v.strips != nullptr) {
      span_first = (*v.strips)[static_cast<size_t>(row)].first;
      span_last = (*v.strips)[static_cast<size_t>(row)].last;
    }
    if (span_first < 1) continue;
    const double* m = mask[row];
    const double* owners = v.regions != nullptr ? (*v.regions)[row] : nullptr;
    if (m == nullptr) continue;
    for (int col = span_first; col <= std::min(span_last, v.ncols); ++col)
      if (m[col] > v.nodata) f(row, col, owners != nullptr ? owner_of(owners[col]) : 0);
  }
}

// Every process checks that the given counts match its masked cells (process
// 0 those of every process); a mismatch stops all processes alike.
void check_masked_counts(const distribution_view& v, const grid_matrix& mask,
                         const std::vector<int64_t>& counts) {
  std::vector<int64_t> found(static_cast<size_t>(v.process_count), 0);
  for_each_masked_cell(v, mask, [&](int, int, int owner) {
    if (owner < v.process_count && (v.rank == 0 || owner == v.rank))
      ++found[static_cast<size_t>(owner)];
  });
  int bad_process = -1;
  if (static_cast<int>(counts.size()) < v.process_count) {
    bad_process = static_cast<int>(counts.size());
  } else {
    for (int p = 0; p < v.process_count; ++p)
      if ((v.rank == 0 || p == v.rank) && p > 0 &&
          found[static_cast<size_t>(p)] != counts[static_cast<size_t>(p)]) {
        bad_process = p;
        break;
      }
  }
  int any = bad_process >= 0 ? bad_process + 1 : 0;
  int worst = 0;
  MPI_Allreduce(&any, &worst, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  if (worst == 0) return;
  const int p = worst - 1;
  const long long given = p < static_cast<int>(counts.size())
                              ? static_cast<long long>(counts[static_cast<size_t>(p)])
                              : -1;
  fail_fatal(*v.diag, MASKED_COUNT_CODE, "masked transfer: process ", p, " owns ",
             static_cast<long long>(p < v.process_count ? found[static_cast<size_t>(p)] : 0),
             " masked cells, but ", given, " were given");
}

}  // namespace

void gather_masked(const distribution_view& v, grid_matrix& values, const grid_matrix& mask,
                   const std::vector<int64_t>& counts, grid_matrix* target) {
  if (v.process_count <= 1 || v.regions == nullptr) {
    // One process owns every cell: the target gets the masked values.
    if (target != nullptr && v.rank == 0)
      for_each_masked_cell(v, mask,
                           [&](int row, int col, int) { (*target)[row][col] = values[row][col]; });
    return;
  }
  check_masked_counts(v, mask, counts);
  if (v.rank != 0) {
    std::vector<double> buffer;
    buffer.reserve(static_cast<size_t>(counts[static_cast<size_t>(v.rank)]));
    for_each_masked_cell(v, mask, [&](int row, int col, int owner) {
      if (owner == v.rank) buffer.push_back(values[row][col]);
    });
    MPI_Send(buffer.data(), static_cast<int>(buffer.size()), MPI_DOUBLE, 0, v.rank, MPI_COMM_WORLD);
    return;
  }
  std::vector<std::vector<double>> buffers(static_cast<size_t>(v.process_count));
  for (int p = 1; p < v.process_count; ++p) {
    std::vector<double>& b = buffers[static_cast<size_t>(p)];
    b.resize(static_cast<size_t>(counts[static_cast<size_t>(p)]));
    MPI_Recv(b.data(), static_cast<int>(b.size()), MPI_DOUBLE, p, p, MPI_COMM_WORLD,
             MPI_STATUS_IGNORE);
  }
  std::vector<size_t> next(static_cast<size_t>(v.process_count), 0);
  grid_matrix& out = target != nullptr ? *target : values;
  for_each_masked_cell(v, mask, [&](int row, int col, int owner) {
    if (owner > 0) {
      out[row][col] = buffers[static_cast<size_t>(owner)][next[static_cast<size_t>(owner)]++];
    } else if (target != nullptr) {
      out[row][col] = values[row][col];
    }
  });
}

void scatter_masked(const distribution_view& v, grid_matrix& values, const grid_matrix& mask,
                    const std::vector<int64_t>& counts) {
  if (v.process_count <= 1 || v.regions == nullptr) return;
  check_masked_counts(v, mask, counts);
  if (v.rank == 0) {
    std::vector<std::vector<double>> buffers(static_cast<size_t>(v.process_count));
    for_each_masked_cell(v, mask, [&](int row, int col, int owner) {
      if (owner > 0) buffers[static_cast<size_t>(owner)].push_back(values[row][col]);
    });
    for (int p = 1; p < v.process_count; ++p) {
      const std::vector<double>& b = buffers[static_cast<size_t>(p)];
      MPI_Send(b.data(), static_cast<int>(b.size()), MPI_DOUBLE, p, p, MPI_COMM_WORLD);
    }
    return;
  }
  std::vector<double> buffer(static_cast<size_t>(counts[static_cast<size_t>(v.rank)]));
  MPI_Recv(buffer.data(), static_cast<int>(buffer.size()), MPI_DOUBLE, 0, v.rank, MPI_COMM_WORLD,
           MPI_STATUS_IGNORE);
  size_t next = 0;
  for_each_masked_cell(v, mask, [&](int row, int col, int owner) {
    if (owner == v.rank) values[row][col] = buffer[next++];
  });
}

}  // namespace distribution
