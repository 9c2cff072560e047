#include "submodel/hru_followers.h"

#include <cstdint>

#include "modelbase/diagstream.h"

namespace {
constexpr int HRU_LAYOUT_ERROR = 17;
}  // namespace

void check_hru_followers(DiagStream& diag, const hru_follower_frame& f, const std::string& owner) {
  const grid_matrix& zone = *f.zone;
  const std::vector<hru_entry>& units = *f.list;
  for (int r = f.first_row; r <= f.last_row; ++r) {
    const row_strip& span = (*f.strips)[static_cast<size_t>(r)];
    for (int c = span.first; c <= span.last; ++c) {
      if (zone[r][c] == f.nodata) continue;
      if (f.regions != nullptr && static_cast<int>((*f.regions)[r][c]) != f.rank) continue;
      if ((*f.masters)[r][c] != f.nodata) continue;
      const double id_value = (*f.units)[r][c];
      if (!(id_value >= 1 && id_value < static_cast<double>(units.size())))
        fail_fatal(diag, HRU_LAYOUT_ERROR, "hydrologic response unit ", id_value, " of cell (", r,
                   ", ", c, ") is not in the list of ", static_cast<int>(units.size()) - 1,
                   " units (", owner, ")");
      const hru_entry& unit = units[static_cast<size_t>(id_value)];
      const bool own_master =
          unit.row >= f.first_row && unit.row <= f.last_row && unit.col >= 1 &&
          unit.col <= f.ncols &&
          (f.regions == nullptr || static_cast<int>((*f.regions)[unit.row][unit.col]) == f.rank);
      if (!own_master)
        fail_fatal(diag, HRU_LAYOUT_ERROR, "the master cell (", unit.row, ", ", unit.col,
                   ") of hydrologic response unit ", static_cast<int64_t>(id_value),
                   " lies outside the cells of process ", f.rank, " (", owner, ")");
    }
  }
}
