#include "settings/external_coupling_kernels.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>

namespace {

constexpr size_t STATISTIC_NAME_LIMIT = 100;  // [characters] of an entity name in a file head

bool valid_cell(const grid_matrix& zones, int row, int col, double nodata) {
  return zones[row][col] != nodata;
}

}  // namespace

coupling_code classify_coupling_code(const std::string& write_code) {
  if (write_code == "Sum") return coupling_code::sum;
  if (write_code == "Mean") return coupling_code::mean;
  if (write_code.starts_with("SumTotal")) return coupling_code::sum_total;
  return coupling_code::current;
}

bool coupling_code_accumulates(const std::string& write_code) {
  return classify_coupling_code(write_code) != coupling_code::current;
}

void coupling_add(grid_matrix& accumulator, const grid_matrix& grid, const grid_matrix& zones,
                  const coupling_grid_span& span) {
  for (int r = 1; r <= span.nrows; ++r)
    for (int c = 1; c <= span.ncols; ++c)
      accumulator[r][c] =
          valid_cell(zones, r, c, span.nodata) ? accumulator[r][c] + grid[r][c] : span.nodata;
}

void coupling_mean(grid_matrix& accumulator, const grid_matrix& grid, const grid_matrix& zones,
                   const coupling_grid_span& span, int steps) {
  for (int r = 1; r <= span.nrows; ++r)
    for (int c = 1; c <= span.ncols; ++c)
      accumulator[r][c] = valid_cell(zones, r, c, span.nodata)
                              ? (accumulator[r][c] + grid[r][c]) / steps
                              : span.nodata;
}

void coupling_reset(grid_matrix& accumulator, const grid_matrix& zones,
                    const coupling_grid_span& span) {
  for (int r = 1; r <= span.nrows; ++r)
    for (int c = 1; c <= span.ncols; ++c)
      accumulator[r][c] = valid_cell(zones, r, c, span.nodata) ? 0.0 : span.nodata;
}

std::vector<std::string> coupling_end_of_period_names(const std::string& file_name,
                                                      const std::string& write_code, int64_t day,
                                                      int64_t month, int64_t year, bool day_flag,
                                                      bool month_flag, bool year_flag) {
  const size_t cut = file_name.find_last_of("/\\");
  const std::string directory = cut == std::string::npos ? "" : file_name.substr(0, cut + 1);
  const std::string base = cut == std::string::npos ? file_name : file_name.substr(cut + 1);
  const int y = static_cast<int>(year);
  const int m = static_cast<int>(month);
  const int d = static_cast<int>(day);
  std::vector<std::string> names;
  char buffer[64];
  if (day_flag && write_code.starts_with("SumTotal_D")) {
    std::snprintf(buffer, sizeof buffer, "SumTotal_EndOf_Day_%.04d_%.02d_%.02d_", y, m, d);
    names.push_back(directory + buffer + base);
  }
  if (month_flag &&
      (write_code.starts_with("SumTotal_M") || write_code.starts_with("SumTotal_DM"))) {
    std::snprintf(buffer, sizeof buffer, "SumTotal_EndOf_Month_%.04d_%.02d_", y, m);
    names.push_back(directory + buffer + base);
  }
  if (year_flag &&
      (write_code == "SumTotal_Y" || write_code == "SumTotal_MY" || write_code == "SumTotal_DMY")) {
    std::snprintf(buffer, sizeof buffer, "SumTotal_EndOf_Year_%.04d_", y);
    names.push_back(directory + buffer + base);
  }
  return names;
}

std::string coupling_renamed_name(const std::string& file_name, int64_t year, int64_t month,
                                  int64_t day, int64_t hour, long clock_ticks) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, "_%.4ld_%.2ld_%.2ld_%.2ld_%ld", static_cast<long>(year),
                static_cast<long>(month), static_cast<long>(day), static_cast<long>(hour),
                clock_ticks);
  return file_name + buffer;
}

int find_coupling_record(const statistics_registry& registry, int registry_size,
                         const std::string& entity) {
  const int limit = std::min(registry_size, static_cast<int>(registry.records.size()));
  for (int i = 0; i < limit; ++i) {
    const statistics_record& record = registry.records[static_cast<size_t>(i)];
    if (record.values == nullptr) break;
    if (record.entity_name == nullptr) continue;
    std::string name = *record.entity_name;
    for (char& ch : name)
      if (ch == ' ') ch = '_';
    if (name.find(entity) != std::string::npos) return i;
  }
  return -1;
}

void coupling_accumulate_record(const statistics_record& record, std::vector<double>& sums) {
  for (int k = 1; k <= record.value_count - 1; ++k)
    sums[static_cast<size_t>(k)] += record.values[k];
}

std::string coupling_statistic_text(const std::string& entity_name, const statistics_record& record,
                                    std::vector<double>& sums, coupling_code code, int steps) {
  std::ostringstream text;
  const int zones = record.value_count - 1;
  if (entity_name.size() > STATISTIC_NAME_LIMIT)
    text << entity_name.substr(0, STATISTIC_NAME_LIMIT) << "...; " << zones << " Gebiete\n";
  else
    text << entity_name << "; " << zones << " zones\n";
  for (int k = 1; k <= zones; ++k) {
    double value = record.values[k];
    double& sum = sums[static_cast<size_t>(k)];
    switch (code) {
      case coupling_code::sum:
        value = sum + record.values[k];
        sum = 0;
        break;
      case coupling_code::mean:
        value = (sum + record.values[k]) / steps;
        sum = 0;
        break;
      case coupling_code::sum_total:
        sum += record.values[k];
        value = sum;
        break;
      case coupling_code::current:
        break;
    }
    text << record.codes[k] << '\t' << value << '\n';
  }
  return text.str();
}
