#include "snow/snowmod_section.h"

#include <cstring>

#include "modelbase/diagstream.h"
#include "modelbase/modelobject.h"

namespace {

constexpr size_t LINE_CAPACITY = 1201;  // [chars] a name line with its end
constexpr size_t SHORTEST_LINE = 3;     // [chars] line 42 with its end

struct grid_lines {
  snow_grid grid;
  const char* name_key;
  const char* code_key;
};

}  // namespace

void read_snow_section(modelobject& reader, DiagStream& diag, std::FILE* file,
                       const std::string& control_name, snow_parameters& p) {
  std::string rest;
  auto value = [&](const char* key, double& target) {
    reader.read_value(file, "%lf", target, key, rest);
  };
  auto grid = [&](snow_grid g, const char* name_key, const char* code_key) {
    reader.read_value(file, "%s", p.grid(g).name, name_key, rest);
    reader.read_value(file, "%d", p.grid(g).write_code, code_key, rest);
  };
  auto statistic = [&](snow_statistic s, const char* key) {
    reader.read_two_values(file, "%s%d", p.statistic(s).name, p.statistic(s).code, key, rest);
  };

  reader.read_value(file, "%d", p.method, "method for ", rest);
  // Any other number would split the input but never melt it.
  if (!is_known_snow_method(p.method))
    fail_fatal(diag, 17, "error in control file: the method for snow_model must be 1 to 14, not ",
               p.method);
  value("transzone for ", p.transzone);
  value("T0R for ", p.T0R);
  value("T0 for ", p.T0);
  value("CWH for ", p.CWH);
  value("CRFR for ", p.CRFR);
  value("C0 for ", p.C0);
  value("C1 for ", p.C1);
  value("C2 for ", p.C2);
  value("z0 for ", p.z0);
  value("RMFMIN for ", p.RMFMIN);
  value("RMFMAX for ", p.RMFMAX);
  value("ALBsnow_min for ", p.ALBsnow_min);
  value("ALBsnow_max for ", p.ALBsnow_max);
  grid(snow_grid::rain_fraction, "Name of the rain-grid for ", "Writegrid of rain-grid for ");
  statistic(snow_statistic::rain, "Name of the rain statistics for ");
  grid(snow_grid::snow_fraction, "Name of the snow grid for ", "Writegrid of the snow grid for ");
  statistic(snow_statistic::snow, "Name of the snow statistics for ");
  grid(snow_grid::days_snow, "Name of the snowdays grid for ",
       "Writegrid of the snowdays grid for ");
  statistic(snow_statistic::snow_days, "Name of the snowdays statistics for ");
  grid(snow_grid::snow_age, "Name of the snow age grid for ",
       "Writegrid of the snow age grid for ");
  statistic(snow_statistic::snow_age, "Name of the snow age statistics for ");
  statistic(snow_statistic::albedo, "name of the albedo statistics for ");
  grid(snow_grid::snowcover_outflow, "Name of the snow outflow grid for ",
       "Writegrid of the snow outflow grid for ");
  statistic(snow_statistic::outflow, "Name of the snow outflow statistics for ");
  grid(snow_grid::melt_from_snowcover, "Name of the snow melt only outflow grid for ",
       "Writegrid of the snow melt only outflow grid for ");
  statistic(snow_statistic::melt_only, "Name of the snow melt only outflow statistics for ");
  grid(snow_grid::snowstorage_solid, "Name of the snow storage grids for ",
       "Writegrid of the snow storage grids for ");
  grid(snow_grid::snowstorage_liquid, "Name of the liquid storage grids for ",
       "Writegrid of the liquid storage grids for ");
  statistic(snow_statistic::total_storage, "Name of the total snow storage statistics for ");
  grid(snow_grid::snow_storage_total, "name of the total snow storage grid for ",
       "Writegrid of the total snow storage grid for ");
  reader.read_value(file, "%d", p.readgrid, "readgrid forr storage grids for ", rest);
  if (!has_extra_snow_lines(p.method)) return;

  // Line 42 has no key: its first word is the file name.
  char line[LINE_CAPACITY] = {};
  if (std::fgets(line, sizeof line, file) == nullptr || std::strlen(line) < SHORTEST_LINE)
    fail_fatal(diag, 404, "cannot read additional parameters for snow model methods 5 to 11 from ",
               control_name);
  char word[LINE_CAPACITY] = {};
  if (std::sscanf(line, "%1200s", word) == 1) p.grid(snow_grid::snowtemp).name = word;
  // A line longer than the buffer goes on in the file: skip its rest.
  if (std::strchr(line, '\n') == nullptr) modelobject::read_line_rest(file, rest);
  reader.read_value(file, "%d", p.grid(snow_grid::snowtemp).write_code,
                    "Writegrid of the snow pack temperature grid for ", rest);
  statistic(snow_statistic::snowtemp, "Name of the snow pack temperature statistics for ");
  grid(snow_grid::surftemp, "Name of the snow surface temperature grid for ",
       "Writegrid of the snow surface temperature grid for ");
  statistic(snow_statistic::surftemp, "Name of the snow surface temperature statistics for ");
  grid(snow_grid::input_mass, "Name of the input mass grid for ",
       "Writegrid of the input mass grid for ");
  statistic(snow_statistic::input_mass, "Name of the input mass statistics for ");
  grid(snow_grid::mobile_mass, "Name of the mobile mass grid for ",
       "Writegrid of the mobile mass grid for ");
  statistic(snow_statistic::mobile_mass, "Name of the mobile mass statistics for ");
  grid(snow_grid::deposition, "Name of the deposition grid for ",
       "Writegrid of the deposition grid for ");
  statistic(snow_statistic::deposition, "Name of the deposition statistics for ");

  value("maximum slope for deposition for ", p.maxDepositionSlope);
  if (p.maxDepositionSlope < 0 || p.maxDepositionSlope > 90)
    fail_fatal(diag, 405, "maxDepositionSlope not within parameter bounds of [0...90] Here: ",
               p.maxDepositionSlope);
  value("maximum deposition factor for ", p.maxDepositionFactor);
  if (p.maxDepositionFactor <= 0)
    fail_fatal(diag, 406, "maxDepositionFactor not within parameter bounds of (0...inf). Here: ",
               p.maxDepositionFactor);
  value("minimum slope for slides for ", p.minSlideSlope);
  if (p.minSlideSlope <= 0 || p.minSlideSlope > 90)
    fail_fatal(diag, 407,
               "minSlideSlope not within parameter bounds of [0...90]. Here: ", p.minSlideSlope);
  value("slide mass fraction for ", p.slideMassFrac);
  if (p.slideMassFrac <= 0 || p.slideMassFrac > 1)
    fail_fatal(diag, 408,
               "slideMassFrac not within parameter bounds of (0...1.0]. Here: ", p.slideMassFrac);
  value("incoming long wave radiation correction factor for ", p.LWINcorr);
  if (p.LWINcorr <= 0 || p.LWINcorr > 3)
    fail_fatal(diag, 408,
               "incoming long wave radiation correction factor LWINcorr not within parameter "
               "bounds of (0...3.0]. Here: ",
               p.LWINcorr);
  value("outgoing long wave radiation correction factor for ", p.LWOUTcorr);
  if (p.LWOUTcorr <= 0 || p.LWOUTcorr > 3)
    fail_fatal(diag, 408,
               "outgoing long wave radiation correction factor LWOUTcorr not within parameter "
               "bounds of (0...3.0]. Here: ",
               p.LWOUTcorr);

  // Line 63 is optional: without a number the default stays.
  double scaling = 0;
  if (modelobject::scan_conversion(file, "%lf", 0, &scaling) == 1) {
    p.EnBalScaling = scaling;
  } else {
    p.EnBalScaling = 1.0;
    diag_entry(diag, "WARNING: \n------------- warning: -------------\n",
               "Could not read the optional parameter EnBalScaling (double),\n",
               "for snow melt methods with energy ba"
               "\xF6"
               "ance that will be used for scaling "
               "the energy balance (i.e. affect melt rates)\n",
               "Setting default values of 1.0");
  }
  modelobject::read_line_rest(file, rest);
}
