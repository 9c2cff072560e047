#include "snow/snowmod_glacier.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

#include "modelbase/diagstream.h"
#include "modelbase/modelobject.h"

namespace {

constexpr double SMALLEST_GLACIER_AREA = 0.01;        // [km2]
constexpr double SMALLEST_REFERENCE_VOLUME = 0.0543;  // of 0.01 km2 with 28.5, 1.36

}  // namespace

void read_glacier_section(modelobject& reader, DiagStream& diag, std::FILE* file,
                          glacier_parameters& p) {
  std::string rest;
  auto value = [&](const char* key, double& target) {
    reader.read_value(file, "%lf", target, key, rest);
  };
  auto grid = [&](snow_grid_file& g, const char* name_key, const char* code_key) {
    reader.read_value(file, "%s", g.name, name_key, rest);
    reader.read_value(file, "%d", g.write_code, code_key, rest);
  };
  auto statistic = [&](snow_statistics_file& s, const char* key) {
    reader.read_two_values(file, "%s%d", s.name, s.code, key, rest);
  };
  const char* header = "\n------------- Fatal Error: -------------\n";

  reader.read_value(file, "%d", p.method, "Glacier-Method for ", rest);
  if (p.method != 1 && p.method != 2 && !is_dynamic_glacier_method(p.method))
    fail_fatal(diag, 80,
               "\n-----------Fatal Error:----------\nMethod for glacier melt must be 1(resp 11 for "
               "dynamic model; t-index)\n or 2 (resp. 12 for dynamic model; t-index with "
               "correction by radiation) or 13 (dynamic glaciers with T-Index for ice and firn "
               "and the melt method used for snow as in the snow model)");
  value("DDFice  for ", p.DDFice);
  value("DDFfirn for ", p.DDFfirn);
  value("DDFsnow for ", p.DDFsnow);
  value("MF  for ", p.MF);
  value("Aice_min for ", p.Aice_min);
  value("Aice_max for ", p.Aice_max);
  value("Asnow_min for ", p.Asnow_min);
  value("Asnow_max for ", p.Asnow_max);
  value("kice_els for ", p.kice_els);
  value("kfirn_els ", p.kfirn_els);
  value("ksnow_els for ", p.ksnow_els);
  value("initial Qice_els for ", p.Qice0);
  value("initial Qfirn_els ", p.Qfirn0);
  value("initial Qsnow_els for ", p.Qsnow0);
  grid(p.firn_melt, "name of the firn grid for ", "write code for firn grid for ");
  statistic(p.firn_statistic, "name of the qfirn-statistic-file for ");
  grid(p.ice_melt, "name of the ice grid for ", "write code for ice grid for ");
  statistic(p.ice_statistic, "name of the qice-statistic-file for ");
  statistic(p.total_statistic, "name of the qglac-statistic-file for ");
  if (!is_dynamic_glacier_method(p.method)) return;

  statistic(p.snow_on_ice_statistic, "name of the qSnowOnGlac-statistic-file for ");
  reader.read_value(file, "%d", p.readgrid, "read grid parameter for glacier model ", rest);
  // Lines 25 to 27 and 53 have no key: each is read whole, so that a short
  // line is never completed from the next one.
  auto next_line = [&]() {
    char line[1201] = {};
    if (std::fgets(line, sizeof line, file) == nullptr) return std::string();
    if (std::strchr(line, '\n') == nullptr) modelobject::read_line_rest(file, rest);
    return std::string(line);
  };
  std::string line = next_line();
  if (std::sscanf(line.c_str(), "%d%lf%lf", &p.firn_levels, &p.firn_base, &p.deltafirnper100m) < 3)
    fail_fatal(diag, 80, header, "Could not read the three parameters firn_levels (int),\n",
               "firn_base (double), and deltafirnper100m (double)  \n",
               "for dynamic glacier modelling ");
  // The yearly update writes layer 1: a stack without it has nowhere to go.
  if (p.firn_levels < 1)
    fail_fatal(diag, 80, header,
               "The number of firn levels must be at least 1 for dynamic "
               "glacier modelling, not ",
               p.firn_levels);

  line = next_line();
  if (std::sscanf(line.c_str(), "%d%d", &p.eval_day, &p.eval_month) < 2)
    fail_fatal(diag, 80, header, "Could not read the two parameters GMBEvalDay (int 1...31)\n",
               "and GMBEvalMonth (int 1..12) for dynamic glacier modelling ");
  // Day first, then month, as the reading message says: a swapped line would
  // never match a date, and the glaciers would never be updated.
  if (p.eval_day < 1 || p.eval_day > 31 || p.eval_month < 1 || p.eval_month > 12)
    fail_fatal(diag, 80, header, "GMBEvalDay (int 1...31) ", p.eval_day,
               " and GMBEvalMonth (int 1..12) ", p.eval_month,
               ": out of range for dynamic glacier modelling (first the day, then the month)");

  line = next_line();
  if (std::sscanf(line.c_str(), "%lf%lf%d%d", &p.VAscaling, &p.VAexponent, &p.numElevBands,
                  &p.extraWeightFactorBand0) < 4)
    fail_fatal(diag, 80, header,
               "Could not read the four parameters VAscaling, VAexponent, numElevBands and "
               "extraWeightFactorBand0\n",
               "for Volume-Area-Relation in dynamic glacier modelling ");

  reader.read_value(file, "%s", p.firn_stack.name, "name of the firn stack for ", rest);
  reader.read_value(file, "%d", p.firn_stack.write_code, "write code for the firn stack in ", rest);
  statistic(p.firn_statistic_we, "name of the firn-statistic-file for ");
  grid(p.mass_balance, "name of the glacier mass balance grid for ",
       "write code for glacier mass balance grid in ");
  grid(p.old_mass_balance, "name of the glacier mass balance grid (old reference) for ",
       "write code for glacier mass balance grid (old reference) in ");
  statistic(p.mass_balance_statistic1, "name of the glacier mass balance statistics file (1) for ");
  statistic(p.mass_balance_statistic2, "name of the glacier mass balance statistics file (2) for ");
  value("global debris scaling factor (requirede when using a debris_on_glaciers grid) ",
        p.debris_scaling);
  statistic(p.snow_storage_statistic, "name of the sow statistics for snow on glacier for ");
  grid(p.solid_on_glacier,
       "name of the snow storage grid (solid fraction of WE, glacierized fraction of cell) for ",
       "write code for snow storage grid (solid fraction of WE, glacierized fraction of cell) in ");
  grid(p.liquid_on_glacier,
       "name of the snow storage grid (liquid fraction of WE, glacierized fraction of cell) for ",
       "write code for snow storage grid (liquid fraction of WE, glacierized fraction of cell) "
       "in ");
  grid(p.total_on_glacier,
       "name of the snow storage grid (total on glacierized fraction of cell) for ",
       "write code for snow storage grid (total on glacierized fraction of cell) in ");
  grid(p.melt_on_glacier,
       "name of the snow snow melt grid (incl. rain, total on glacierized fraction of cell) for ",
       "write code for snow melt grid (incl. rain, total on glacierized fraction of cell) in ");
  grid(p.surftemp_on_glacier,
       "name of the snow surface temperature grid (incl. rain, total on glacierized fraction of "
       "cell) for ",
       "write code for snow surface temperature  (incl. rain, total on glacierized fraction of "
       "cell) in ");
  grid(p.snowtemp_on_glacier,
       "name of the snow temperature grid (incl. rain, total on glacierized fraction of cell) for ",
       "write code for snow temperature grid (incl. rain, total on glacierized fraction of cell) "
       "in ");
  grid(p.evaporation_on_glacier,
       "name of the snow evaporation grid (incl. rain, total on glacierized fraction of cell) for ",
       "write code for snow evaporation grid (incl. rain, total on glacierized fraction of cell) "
       "in ");

  // Line 53 is optional: what cannot be read keeps its default.
  line = next_line();
  double pack = 0, share = 0;
  const int read = std::sscanf(line.c_str(), "%lf%lf", &pack, &share);
  if (read >= 1) p.maxSnowPackToCreateGlacier = pack;
  if (read >= 2) p.relSizeNewGlacier = share;
  if (read < 2)
    diag_entry(diag, "WARNING: \n------------- warning: -------------\n",
               "Could not read the two optional parameters maxSnowPackToCreateGlacier (double),\n",
               "and relSizeNewGlacier (double) for dynamic glacier modelling that will be used for "
               "creating new glaciers\n",
               "For cells with no existing glacier, the amount > 1000 will be used to create a "
               "glacier that encompasses 25% of the cell");
}

std::string snow_on_ice_statistics_name(const std::string& total_name) {
  const size_t dot = total_name.rfind('.');
  if (dot == std::string::npos) return "";
  return total_name.substr(0, dot) + "_qsgl_" + total_name.substr(dot);
}

void add_glacier_share(double g, subbasin_glacier_record& record) noexcept {
  const double share = std::clamp(g, 0.0, 1.0);
  if (g > 0) record.glacierized = true;
  record.glacier_sum += share;
  record.free_sum += 1 - share;
}

double initial_firn_level(double gradient, double elevation, double base) noexcept {
  return std::max(0.0, gradient * (elevation - base));
}

glacier_size initial_glacier_size(double area, double c, double gamma) noexcept {
  glacier_size g;
  g.area = std::max(area, SMALLEST_GLACIER_AREA);
  g.volume = c * std::pow(g.area, gamma);
  g.old_volume = std::max(g.volume, SMALLEST_REFERENCE_VOLUME);
  g.old_area = std::pow(g.old_volume / c, 1 / gamma);
  return g;
}

void read_permafrost_section(modelobject& reader, DiagStream& diag, std::FILE* file,
                             permafrost_settings& p) {
  std::string rest;
  reader.read_value(file, "%d", p.method, "Permafrost-Method for ", rest);
  if (p.method != 1)
    fail_fatal(diag, 80, "method for permafrost melt must be 1 (alpha*sqrt(time))");
  reader.read_value(file, "%lf", p.Min_Snow_Age_Refreeze, "Min_Snow_Age_Refreeze for ", rest);
  reader.read_value(file, "%lf", p.Max_SWE_SnowFree, "Max_SWE_SnowFree for ", rest);
  reader.read_two_values(file, "%s%d", p.thaw_statistic.name, p.thaw_statistic.code,
                         "name of thaw depth statistics file ", rest);
  reader.read_value(file, "%lf", p.reduced_k_sat, "reduced k_sat (in m/s)", rest);
}

std::vector<glacier_record> build_glacier_list(const grid_matrix& shares, const grid_matrix& codes,
                                               const grid_matrix& subbasins, int nrows, int ncols,
                                               double nodata, double cellsize, double c,
                                               double gamma, glacier_list_conflict& conflict) {
  std::vector<glacier_record> list;
  std::map<int, size_t> position;
  for (int r = 1; r <= nrows; ++r)
    for (int col = 1; col <= ncols; ++col) {
      const double g = shares[r][col];
      const double k = codes[r][col];
      if (!(g > 0) || !(k > 0) || k == nodata || subbasins[r][col] == nodata) continue;
      const int code = static_cast<int>(k);
      const int subbasin = static_cast<int>(subbasins[r][col]);
      auto found = position.find(code);
      if (found == position.end()) {
        found = position.emplace(code, list.size()).first;
        list.push_back(glacier_record{code, subbasin, 0, {}});
      }
      glacier_record& glacier = list[found->second];
      if (glacier.subbasin != subbasin) {
        conflict = {true, code, glacier.subbasin, r, col, subbasins[r][col]};
        return list;
      }
      ++glacier.cells;
      glacier.size.area += g * cellsize * cellsize / 1e6;
    }
  for (glacier_record& glacier : list)
    glacier.size = initial_glacier_size(glacier.size.area, c, gamma);
  return list;
}
