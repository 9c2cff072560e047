// Output preparation of the unsaturated zone (see unsatzon_statistics.h).
#include "soilwater/unsatzon_statistics.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <stdexcept>

namespace {

constexpr std::array<statistic_title, static_cast<size_t>(unsatzon_statistic::count)> TITLES = {{
    {"groundwater level [m below surface] (GWSTAND)", 5},
    {"groundwater recharge per zone [mm] (GWN)", 5},
    {"rel. soil moisture 0..root depth per zone ", 5},
    {"abs. soil moisture 0..profile depth per zone ", 5},
    {"root depth [mm per zone] ", 5},
    {"Infiltration excess [mm per zone]  ", 5},
    {"direct discharge [mm per Zone] (QD)", 6},
    {"Interflow [mm per zone]", 6},
    {"base flow [mm per Zone]", 6},
    {"total runoff [mm per zone] (sum of QB, QI und QD)", 6},
    {"macropore_infiltration_per_zone_[mm] ", 6},
    {"total_infiltration_per_zone_[mm] ", 6},
    {"Number_of_Substeps_per_Time_Step[-] ", 6},
    {"soil thaw depth [m] ", 5},
    {"drainage discharge [mm per zone] (QDRAIN)", 5},
    {"ponding water storage content [mm per zone]  ", 5},
    {"immobilised or mobilised soil water by glacier resizing 0..profile depth per zone ", 5},
    {"re-infiltration from rivers [mm per Zone]", 7},
    {"base flow (exfiltration into rivers, only with gw-module active) [mm per Zone]", 7},
}};

// "%lf" of a large value runs to hundreds of characters: sized first.
std::string formatted(const char* format, double value) {
  const int size = std::snprintf(nullptr, 0, format, value);
  std::string text(static_cast<size_t>(size) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, value);
  text.pop_back();
  return text;
}

}  // namespace

const statistic_title& statistic_title_of(unsatzon_statistic which) noexcept {
  return TITLES[static_cast<size_t>(which)];
}

int control_cell_capacity(int values_per_row) noexcept {
  const int rows = OUTPUT_BUFFER_BYTES / (values_per_row * 8 + 32);
  return std::max(rows, 1);
}

std::string control_cell_header(control_cell_file file, int row, int col, int layer_count,
                                int vegetation_layers) {
  const std::string cell = "[" + std::to_string(row) + "][" + std::to_string(col) + "]";
  const std::string date = "YY\tMM\tDD\tHH\t";
  std::string head;
  int first_layer = 1;
  switch (file) {
    case control_cell_file::hhyd:
      head = date + "hhyd" + cell;
      break;
    case control_cell_file::theta:
      head = date + "theta" + cell;
      break;
    case control_cell_file::q_bottom:
      head = date + "q_bottom" + cell;
      break;
    case control_cell_file::interflow:
      head = date + "interflow_per_layer" + cell;
      break;
    case control_cell_file::temperature:
      head = date + "temper" + cell;
      break;
    case control_cell_file::etr:
      head = date + "etr" + cell + "(etr[0] is evaporation from first layer)";
      first_layer = 0;
      break;
    case control_cell_file::otherdata: {
      head = date + "otherdata" + cell +
             "QD\tQI\tDELTAGW/QB\tQINF\tGWIN\tGWEX\tGWN\tUPRISE\tPERCOL\tMACR\tQDRAIN\tACT_POND"
             "\tINFEX\tGWST\tGWLEVEL\tROOT\tAlbedo\tRSE";
      for (int i = 1; i <= vegetation_layers; ++i) {
        const std::string n = std::to_string(i);
        head +=
            "\tLAI_" + n + "\tVCF_" + n + "\tRSC_" + n + "\tRSI_" + n + "\tROOT_" + n + "\tZ0_" + n;
      }
      return head + "\n";
    }
  }
  for (int l = first_layer; l <= layer_count; ++l) head += "[" + std::to_string(l) + "]\t";
  return head + "\n";
}

const char* control_cell_open_error(control_cell_file file) noexcept {
  switch (file) {
    case control_cell_file::hhyd:
    case control_cell_file::q_bottom:
      return "error opening file for hydraulic head (single point) \n-> check disk space or user "
             "rights";
    case control_cell_file::otherdata:
      return "error opening file for other detail data (single point) \n-> check disk space or "
             "user rights";
    case control_cell_file::theta:
      return "error opening file for soil theta (single point) \n-> check disk space or user "
             "rights";
    case control_cell_file::etr:
      return "error opening file for transpiration/evaporation per layer (single point) \n-> "
             "check disk space or user rights";
    case control_cell_file::interflow:
      return "error opening file for interflow (single point) \n-> check disk space or user "
             "rights";
    case control_cell_file::temperature:
      break;
  }
  return "error opening file for soil temperatures (single point details) \n-> check disk space "
         "or user rights";
}

std::string immobilised_statistics_name(const std::string& sb2_name) {
  const size_t dot = sb2_name.rfind('.');
  if (dot == std::string::npos)
    throw std::invalid_argument("SB_2 statistics file name without an extension");
  return sb2_name.substr(0, dot) + "_immo" + sb2_name.substr(dot);
}

void add_cell_to_sums(soil_water_sums& sums, double water, double saturated_water,
                      double glacier_fraction, bool has_weight, double weight) noexcept {
  const double g = std::clamp(glacier_fraction, 0.0, 1.0);
  sums.wu += water * (1 - g);
  sums.wg += saturated_water * g;
  if (has_weight) {
    sums.nu += weight * (1 - g) + g;
    sums.ng += weight * g + (1 - g);
  } else {
    sums.nu += 1;
    sums.ng += 1;
  }
}

double mean_or_zero(double amount, double weight) noexcept {
  return weight == 0 ? 0.0 : amount / weight;
}

std::string start_report_lines(const soil_water_sums& sums) {
  const double unglacierized = mean_or_zero(sums.wu, sums.nu);
  const double glacierized = mean_or_zero(sums.wg, sums.ng);
  return formatted("mean soil water content for all cells at model-start: %lf m^3/m^2\n",
                   glacierized + unglacierized) +
         formatted(
             "mean soil water content for unglacierized or only partly unglacierized cells "
             "at model-start: %lf m^3/m^2\n",
             unglacierized) +
         formatted(
             "mean soil water content for partly or completely glacierized cells at "
             "model-start: %lf m^3/m^2\n",
             glacierized);
}

std::string control_cell_report_line(int row, int col, double water_mm) {
  const std::string cell = "soil water content (for control point r=" + std::to_string(row) +
                           " c=" + std::to_string(col) + ")";
  return cell + formatted(" at model-start: %lf mm\n", water_mm);
}
