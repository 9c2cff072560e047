#include "modelbase/routstat.h"

#include <algorithm>
#include <cstdio>

#include "modelbase/diagstream.h"
#include "modelbase/outputfile.h"
#include "modelbase/signals.h"

efficiency_values efficiency_of(const comparison_sums& sums) {
  const double n = sums[0];
  const double d = sums[1];
  const double q = sums[2];
  const double m = sums[3];
  const double o = sums[4];
  const double p = sums[5];
  efficiency_values e;
  if (m <= 2 || n <= 2) return e;
  const double variance = (p - o * o / m) / (m - 1);
  if (variance == 0) return e;
  const double r_numerator = q / (n - 1);
  if (r_numerator != 0) e.r_square = 1 - r_numerator / variance;
  const double c_numerator = (q - d * d / n) / (n - 1);
  if (c_numerator != 0) e.coeff_var = 1 - c_numerator / variance;
  return e;
}

routstatistic::routstatistic(int& status, DiagStream* diag, statistics_registry* registry,
                             int registry_size, const grid_matrix* weights, int nrows, int ncols,
                             zone_record* zones, const double* zone_values, int zone_count,
                             int code, int precision, std::string& file_name,
                             const std::string* output_directory, int listed_count,
                             const std::vector<int>* listed_codes)
    : zonalstatistic(status, diag, registry, registry_size, weights, nrows, ncols, zones,
                     zone_count, code, precision, file_name, output_directory, listed_count,
                     listed_codes) {
  zone_values_.assign(static_cast<size_t>(std::max(zone_count, 0)) + 1, 0.0);
  if (zone_values != nullptr)
    std::copy(zone_values, zone_values + zone_count + 1, zone_values_.begin());
  if (code <= 1000 || status != 0) return;
  // No total column: the rows hold one value per column.
  --values_per_row_;
  image_.value_count = values_per_row_;
  const auto length = static_cast<size_t>(column_count()) + 2;
  observed_.assign(length, 0.0);
  observed_second_.assign(length, 0.0);
  companion_values_.assign(length, 0.0);
  companion_codes_.assign(length, 0);
  companion_label_ = "observed Runoff";
  companion_.value_count = values_per_row_;
  companion_.values = observed_.data();
  companion_.second = observed_second_.data();
  companion_.shares = companion_values_.data();
  companion_.entity_name = &companion_label_;
  companion_.codes = companion_codes_.data();
}

int routstatistic::write_header(const std::string& name, const std::string& text,
                                statistics_registry* registry, int registry_size) {
  if (off()) return 0;
  file_operation_guard guard(sigint_after::disarm);
  entity_name_ = name + "_submodel:" + text;
  const int columns = column_count();
  std::fill(current_values_.begin(), current_values_.end(), 0.0);
  std::fill(observed_.begin(), observed_.end(), 0.0);
  std::string header = "YY\tMM\tDD\tHH";
  int next_listed = 1;
  int column = 0;
  for (int z = 1; z <= zone_count_ && column < columns; ++z) {
    if (!zone_is_column(z, next_listed)) continue;
    ++column;
    append_format(header, "\t\"%.0lf\"", zones_[z].code);
    const auto c = static_cast<size_t>(column);
    column_codes_[c] = companion_codes_[c] = static_cast<int>(zones_[z].code);
    share_values_[c] = companion_values_[c] = zone_values_[static_cast<size_t>(z)];
  }
  header += "\n" + entity_name_ + "\n";
  header += "--\t--\t--\t--";
  for (int c = 1; c <= column; ++c) append_format(header, "\t%.7lf", share_values_[c]);
  header += "\n";
  write_whole_file(header);

  int result = 0;
  const int slot = register_image(registry, registry_size, 0);
  if (slot >= 0) {
    registry->records[static_cast<size_t>(slot)] = image_;
    const int next = slot + 1;
    if (register_image(registry, registry_size, next) == next) {
      registry->records[static_cast<size_t>(next)] = companion_;
      result = next;
    }
  }
  return result;
}

void routstatistic::complete_step_local(int64_t year, int64_t month, int64_t day, int64_t hour) {
  if (off()) return;
  if (steps_per_row_ <= 1) {
    if (period_steps_ != steps_per_row_) return;
  } else {
    add_accumulators(1);
    if (period_steps_ != steps_per_row_) {
      copy_to_accumulators();
      return;
    }
  }
  start_row(year, month, day, hour);
  companion_.year = year;
  companion_.month = month;
  companion_.day = day;
  companion_.hour = hour;
  int next_listed = 1;
  for (int z = 1; z <= zone_count_; ++z) {
    const zone_record& r = zones_[z];
    // The weighted mean; a zone without weight has none and counts as 0.
    const double value = (r.count > 0 && r.weight != 0) ? r.count / r.weight * (r.sum / r.count)
                                                        : 0.0;
    if (zone_is_column(z, next_listed)) push_row_value(value);
  }
  if (steps_per_row_ > 1) clear_accumulators();
  period_steps_ = 0;
  if (rows_in_use() >= capacity_) write_rows();
}

void routstatistic::write_efficiency_tables(const comparison_table& lin,
                                            const comparison_table& log) {
  if (off()) return;
  write_rows();
  file_operation_guard guard(sigint_after::disarm);
  std::string tables;
  const int decimals = precision_ - 1;
  const char* const dashes = "----------------------\n";
  struct block {
    const char* lower;
    const char* upper;
    const comparison_table* sums;
    bool r_square;
  };
  const block blocks[4] = {{"lin. R-square", "LIN. R-SQUARE", &lin, true},
                           {"log. R-square", "LOG. R-SQUARE", &log, true},
                           {"coeff.var.lin", "COEFF.VAR.LIN", &lin, false},
                           {"coeff.var.log", "COEFF.VAR.LOG", &log, false}};
  for (int b = 0; b < 4; ++b) {
    tables += dashes;
    for (int i = 1; i <= EFFICIENCY_SHIFTS; ++i) {
      const int shift = i - 11;
      append_format(tables, "%s\t%d", shift == 0 ? blocks[b].upper : blocks[b].lower, shift);
      const comparison_sums* sums = (*blocks[b].sums)[static_cast<size_t>(i - 1)];
      int next_listed = 1;
      for (int z = 1; z <= zone_count_; ++z) {
        const efficiency_values e = sums != nullptr ? efficiency_of(sums[z]) : efficiency_values{};
        const double value = blocks[b].r_square ? e.r_square : e.coeff_var;
        // The shift-0 coefficient of the linear series is what the routing
        // reads back as the zone's efficiency.
        if (b == 2 && shift == 0) {
          zones_[z].count = 1;
          zones_[z].sum = value;
        }
        bool column = kind_ == 2 || kind_ == 4;
        if ((kind_ == 5 || kind_ == 6) && next_listed <= listed_count_ &&
            listed_index_[static_cast<size_t>(next_listed)] == z) {
          column = true;
          ++next_listed;
        }
        if (column) append_format(tables, "\t%.*lf", decimals, value);
      }
      tables += '\n';
    }
  }
  tables += dashes;
  append_block(tables);
}

void routstatistic::release() {
  if (off()) return;
  // The companion arrays stay allocated while a registry record may still
  // point at them; they go with the object.
  zonalstatistic::release();
}
