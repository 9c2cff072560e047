// Regression regions and the weights of the transition between them: the
// meteorological input blends the regressions of up to three regions near a
// region border, with weights that fall off over the transition distance
// of "[region_transition_distance]". The processes rank the region codes
// of their own cells together; every process computes the weights of its own cells from the
// region grid's rows as far as the transition distance reaches, into grids
// that cover its band only.
#include <mpi.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "modelbase/diagstream.h"
#include "modelbase/gridoutput.h"
#include "modelbase/gridstore.h"
#include "settings/defltuzr.h"
#include "settings/derived_grids.h"
#include "settings/derived_grids_kernels.h"
#include "settings/first_in_row_order.h"
#include "settings/rank0_status.h"

namespace {

constexpr int MAX_REGION_CODE = 32767;
constexpr int MAX_REGIONS = 30;
constexpr int INVALID_REGION_CODE = 3;
constexpr int TOO_MANY_REGIONS_CODE = 4;

// Squares of cell offsets in double, so that large grids cannot overflow.
double squared(int offset) { return static_cast<double>(offset) * offset; }

// The nearest cells of the second and third region found for one cell.
struct region_search {
  double own = 0;
  double region2 = 0;
  double region3 = 0;
  double w1 = 0;  // [cells] distance to the nearest cell of region 2
  double w2 = 0;
  double w3 = 0;
  int row2 = 0, col2 = 0;
  int row3 = 0, col3 = 0;
};

// One candidate cell (row i, column m) of region k at distance d [cells].
void consider_candidate(region_search& s, double k, int d, int i, int m, bool three) {
  if (s.region2 == 0) s.region2 = k;
  if (k == s.region2) {
    if (s.w1 >= d) {
      s.w1 = s.w2 = d;
      s.row2 = i;
      s.col2 = m;
    }
    return;
  }
  if (!three) return;
  if (s.region3 == 0) s.region3 = k;
  if (k == s.region3) {
    if (s.w3 >= d) {
      s.w3 = d;
      s.row3 = i;
      s.col3 = m;
    }
    return;
  }
  if (s.w3 > s.w2) {
    if (s.w3 > d) {
      s.region3 = k;
      s.w3 = d;
      s.row3 = i;
      s.col3 = m;
    }
  } else if (s.w2 > d) {
    s.region2 = k;
    s.w2 = d;
    s.row2 = i;
    s.col2 = m;
  }
}

}  // namespace

void derived_grids::release() {
  n_regions = 0;
  max_region_code = 0;
  region_code_rank.clear();
  region_table.clear();
}

void derived_grids::read_transition_distance() {
  std::FILE* file = open_control_file(28, "error opening ");
  settings.seek_section("[region_transition_distance]", true);
  settings.read_value(file, "%lf", transition,
                      "transition distance (if or if not using a region grid) ", line_buffer());
  close_control_file();
}

void derived_grids::make_region_weight_grids() {
  grid_store& s = store();
  n_regions = 0;
  max_region_code = 0;
  region_code_rank.clear();
  region_table.clear();
  for (int k = 0; k < 4; ++k) derived.regions[k] = derived.weights[k] = 0;
  int first = 0;
  int last = 0;
  held_rows(first, last);

  int region_index = settings.find_grid("regression_regions");
  if (region_index <= 0) {
    region_index = s.first_free(1);
    if (region_index == GRID_STORE_FULL)
      fail_fatal(diag(), GRID_STORE_FULL_CODE, "no free grid found in memory (at position ",
                 GRID_STORE_FULL, ")\n");
    grid_matrix& region_grid =
        create_grid(region_index, derived_grid_file_name(base_file(1), ".$r1"),
                    "regression_regions", first, last);
    const grid_matrix& zone = zone_grid();
    const double nd = nodata();
    for (int r = first; r <= last; ++r)
      for (int c = 1; c <= ncols(); ++c) region_grid[r][c] = zone[r][c] > nd ? 1.0 : nd;
  }
  derived.regions[1] = region_index;

  read_transition_distance();
  rank_region_grid(region_index);

  const std::string region_file = s[region_index].file_name.value_or(std::string());
  const int weights1 = s.first_free(1);
  if (weights1 == GRID_STORE_FULL)
    fail_fatal(diag(), GRID_STORE_FULL_CODE, "no free grid found in memory (at position ",
               GRID_STORE_FULL, ")");
  // The weights and further regions cover each process's band only.
  int band_first = 0;
  int band_last = 0;
  band_rows(band_first, band_last);
  auto make = [&](int index, const char* suffix, const char* grid_name) {
    create_grid(index, derived_grid_file_name(region_file, suffix), grid_name, band_first,
                band_last);
    count_registered_grids(1);
    return index;
  };
  derived.weights[1] = make(weights1, ".$w1", "regression_weights1");
  if (n_regions >= 2) {
    derived.regions[2] = make(weights1 + 1, ".$r2", "regression_regions2");
    derived.weights[2] = make(weights1 + 2, ".$w2", "regression_weights2");
  }
  if (n_regions >= 3) {
    derived.regions[3] = make(weights1 + 3, ".$r3", "regression_regions3");
    derived.weights[3] = make(weights1 + 4, ".$w3", "regression_weights3");
  }

  compute_region_weights();

  // Each process computed its own cells; the halo cells follow.
  for (int index : {derived.weights[1], derived.regions[2], derived.weights[2], derived.regions[3],
                    derived.weights[3]}) {
    if (index <= 0) continue;
    settings.exchange_halo(index);
    write_once(index);
  }
}

void derived_grids::rank_region_grid(int region_index) {
  const grid_store& s = store();
  const grid_matrix& region_grid = *s[region_index].grid;
  const std::string region_file = s[region_index].file_name.value_or(std::string());
  const int cols = ncols();
  const double nd = nodata();
  const int me = rank();
  const grid_matrix& zone = zone_grid();
  const grid_matrix* owners = mpi_regions();
  if (me == 0)
    diag_entry(diag(), "ranking regions from ", region_file, " for ", settings.object_name());

  // Every process walks its own basin cells. A walk over the whole grid in
  // row order would stop at the first invalid code or at the first cell of
  // a code beyond the allowed number: the positions in row order of each
  // process's first invalid cell and first cell of every code, reduced to
  // their minimum, tell which comes first.
  long long first_invalid = NOT_SEEN;
  std::vector<long long> first_seen(static_cast<size_t>(MAX_REGION_CODE) + 1U, NOT_SEEN);
  // Process 0 also takes the cells with a zone value that no process owns
  // (below nodata), over the whole zone grid it holds.
  const int own_first = me == 0 ? 1 : std::max(1, first_row());
  const int own_last = me == 0 ? nrows() : std::min(nrows(), last_row());
  auto own = [&](int r, int c) {
    if (zone[r][c] == nd) return false;
    if (owners == nullptr) return true;
    const double owner = (*owners)[r][c];
    return owner == me || (me == 0 && !(owner > nd));
  };
  for (int r = own_first; r <= own_last && first_invalid == NOT_SEEN; ++r)
    for (int c = 1; c <= cols; ++c) {
      if (!own(r, c)) continue;
      const long long position = static_cast<long long>(r - 1) * cols + (c - 1);
      const double rounded = std::trunc(region_grid[r][c] + 0.5);
      if (!(rounded >= 1 && rounded <= MAX_REGION_CODE)) {
        first_invalid = position;
        break;
      }
      long long& seen = first_seen[static_cast<size_t>(rounded)];
      if (seen == NOT_SEEN) seen = position;
    }
  const std::vector<int> met = codes_in_row_order(first_invalid, first_seen);
  run_on_rank0_and_share_error(me, [&] {
    if (static_cast<int>(met.size()) > MAX_REGIONS)
      fail_fatal(diag(), TOO_MANY_REGIONS_CODE, "too much zones in ", region_file, ", (max. ",
                 MAX_REGIONS, ")!\n");
    if (first_invalid != NOT_SEEN)
      fail_fatal(diag(), INVALID_REGION_CODE, "invalid region code in ", region_file,
                 "!\n (codes has to be between 1 and ", MAX_REGION_CODE, ")!\n");
  });

  std::vector<int> codes = met;
  std::sort(codes.begin(), codes.end());
  n_regions = static_cast<int>(codes.size());
  max_region_code = codes.empty() ? 0 : codes.back();
  region_code_rank.assign(static_cast<size_t>(max_region_code) + 1U, 0);
  for (size_t k = 0; k < codes.size(); ++k)
    region_code_rank[static_cast<size_t>(codes[k])] = static_cast<int>(k) + 1;

  // Centroids: sums of whole row and column numbers, exact in any order.
  const size_t slots = static_cast<size_t>(n_regions) + 1U;
  std::vector<long long> sums(3 * slots, 0);  // row sums, column sums, cell counts
  for (int r = own_first; r <= own_last; ++r)
    for (int c = 1; c <= cols; ++c) {
      if (!own(r, c) || region_grid[r][c] == nd) continue;
      const auto k =
          static_cast<size_t>(region_code_rank[static_cast<size_t>(region_grid[r][c] + 0.5)]);
      sums[k] += r;
      sums[slots + k] += c;
      sums[2 * slots + k] += 1;
    }
  MPI_Allreduce(MPI_IN_PLACE, sums.data(), static_cast<int>(sums.size()), MPI_LONG_LONG, MPI_SUM,
                MPI_COMM_WORLD);
  region_table.assign(slots, region_centroid{});
  for (size_t k = 1; k < slots; ++k) {
    region_centroid& centroid = region_table[k];
    const long long cells = sums[2 * slots + k];
    centroid.cell_count = static_cast<double>(cells);
    centroid.mean_row_exact = static_cast<double>(sums[k]);
    centroid.mean_col_exact = static_cast<double>(sums[slots + k]);
    if (cells <= 0) continue;
    centroid.mean_row = static_cast<int>(sums[k] / cells);
    centroid.mean_col = static_cast<int>(sums[slots + k] / cells);
    centroid.mean_row_exact /= centroid.cell_count;
    centroid.mean_col_exact /= centroid.cell_count;
  }
}

void derived_grids::compute_region_weights() {
  transition = limited_transition_distance(transition, cellsize(), nrows(), ncols());
  if (rank() == 0) diag_entry(diag(), "generating region weight grids");
  set_region_weights_in_band(derived.regions[1], transition / cellsize());
  if (rank() != 0) return;
  // One piece per row, as a walk over the whole grid reports its progress.
  for (int k = 1; k <= nrows(); ++k) diag() << ".";
  diag() << "[end-entry]";
}

void derived_grids::set_region_weights_in_band(int region_index, double dc) {
  grid_store& s = store();
  const grid_matrix& zone = zone_grid();
  grid_matrix& weights1 = *s[derived.weights[1]].grid;
  grid_matrix* regions2 = derived.regions[2] > 0 ? s[derived.regions[2]].grid : nullptr;
  grid_matrix* weights2 = derived.weights[2] > 0 ? s[derived.weights[2]].grid : nullptr;
  grid_matrix* regions3 = derived.regions[3] > 0 ? s[derived.regions[3]].grid : nullptr;
  grid_matrix* weights3 = derived.weights[3] > 0 ? s[derived.weights[3]].grid : nullptr;
  const grid_matrix* owners = mpi_regions();
  const double nd = nodata();
  const int rows = nrows();
  const int cols = ncols();
  const int me = rank();
  // Dc is at most the grid's diagonal, so the reach fits the grid.
  const int reach = static_cast<int>(dc);

  // Process 0 holds the region grid whole and clears it outside the basin.
  if (me == 0) {
    grid_matrix& whole = *s[region_index].grid;
    for (int r = 1; r <= rows; ++r)
      for (int c = 1; c <= cols; ++c)
        if (!(zone[r][c] > nd)) whole[r][c] = nd;
  }
  // The search reaches reach rows beyond the own rows: every process gets
  // those rows of the cleared region grid, all columns, from process 0.
  const int own_first = first_row();
  const int own_last = last_row();
  const int band_first = std::max(1, own_first - reach);
  const int band_last = std::min(rows, own_last + reach);
  std::vector<int> bounds(static_cast<size_t>(2 * process_count()), 0);
  const int mine[2] = {band_first, band_last};
  MPI_Allgather(mine, 2, MPI_INT, bounds.data(), 2, MPI_INT, MPI_COMM_WORLD);
  const size_t width = static_cast<size_t>(cols) + 1;
  std::vector<double> received;
  std::vector<MPI_Request> requests;
  if (me == 0) {
    const grid_matrix& whole = *s[region_index].grid;
    for (int p = 1; p < process_count(); ++p)
      for (int r = bounds[static_cast<size_t>(2 * p)]; r <= bounds[static_cast<size_t>(2 * p + 1)];
           ++r) {
        requests.emplace_back();
        MPI_Isend(whole[r], cols + 1, MPI_DOUBLE, p, r, MPI_COMM_WORLD, &requests.back());
      }
  } else if (band_first <= band_last) {
    received.resize(static_cast<size_t>(band_last - band_first + 1) * width);
    for (int r = band_first; r <= band_last; ++r) {
      requests.emplace_back();
      MPI_Irecv(&received[static_cast<size_t>(r - band_first) * width], cols + 1, MPI_DOUBLE, 0, r,
                MPI_COMM_WORLD, &requests.back());
    }
  }
  MPI_Waitall(static_cast<int>(requests.size()), requests.data(), MPI_STATUSES_IGNORE);
  const grid_matrix* whole = me == 0 ? s[region_index].grid : nullptr;
  auto region_row = [&](int r) -> const double* {
    return whole != nullptr ? (*whole)[r] : &received[static_cast<size_t>(r - band_first) * width];
  };

  const bool two = n_regions >= 2;
  const bool three = n_regions >= 3;

  for (int k = std::max(1, own_first); k <= std::min(rows, own_last); ++k) {
    const row_strip& span = strips()[static_cast<size_t>(k)];
    for (int l = span.first; l <= span.last; ++l) {
      if (!(zone[k][l] > nd)) {
        weights1[k][l] = nd;
        for (grid_matrix* g : {regions2, weights2, regions3, weights3})
          if (g != nullptr) (*g)[k][l] = nd;
        continue;
      }
      if (owners != nullptr && (*owners)[k][l] != me) continue;
      region_search found;
      found.own = region_row(k)[l];
      found.w1 = dc;
      if (!two) {
        weights1[k][l] = 1.0;
        continue;
      }
      found.w2 = dc;
      if (three) found.w3 = dc;
      for (int i = std::max(1, k - reach); i <= std::min(rows, k + reach); ++i) {
        const int e = k - i;
        const int h = static_cast<int>(std::sqrt(dc * dc - squared(e)));
        for (int m = std::max(1, l - h); m <= std::min(cols, l + h); ++m) {
          const double candidate = region_row(i)[m];
          if (candidate == found.own || !(candidate > nd)) continue;
          const int d = static_cast<int>(std::sqrt(squared(l - m) + squared(e)));
          consider_candidate(found, candidate, d, i, m, three);
        }
      }
      double w1 = found.w1;
      double w2 = 0;
      double w3 = 0;
      two_region_weights(dc, w1, w2);
      if (three) {
        if (found.region3 > 0) {
          const auto distance = [&](int row, int col) {
            return std::sqrt(squared(k - row) + squared(l - col));
          };
          three_region_weights(dc, distance(found.row2, found.col2),
                               distance(found.row3, found.col3), w1, w2, w3);
        } else {
          w3 = 0;
          w2 = found.region2 > 0 ? 1.0 - w1 : 0.0;
        }
        (*regions3)[k][l] = found.region3;
        (*weights3)[k][l] = w3;
      }
      weights1[k][l] = w1;
      (*regions2)[k][l] = found.region2;
      (*weights2)[k][l] = w2;
    }
  }
}
