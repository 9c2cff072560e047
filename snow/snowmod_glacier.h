// The glacier and permafrost settings of the snow module: the "[ice_firn]"
// and "[permafrost]" sections with their checks, and the set-up values that
// follow from them per cell and per subbasin (glacier shares of the
// subbasins, the initial firn, the volume-area relation of a glacier).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "modelbase/matrices.h"
#include "snow/snowmod_section.h"
#include "submodel/runoffrecords.h"

class DiagStream;
class modelobject;

struct glacier_parameters {
  int method = 0;                               // 1, 2 static; 11, 12, 13 dynamic
  double DDFice = 0, DDFfirn = 0, DDFsnow = 0;  // [mm degC-1 d-1]
  double MF = 0;                                // [mm degC-1 d-1]
  double Aice_min = 0, Aice_max = 0;            // radiation coefficients
  double Asnow_min = 0, Asnow_max = 0;
  double kice_els = 0, kfirn_els = 0, ksnow_els = 0;  // storage constants
  double Qice0 = 0, Qfirn0 = 0, Qsnow0 = 0;           // initial outflows
  snow_grid_file firn_melt, ice_melt;
  snow_statistics_file firn_statistic, ice_statistic, total_statistic, snow_on_ice_statistic;
  // Dynamic methods only.
  int readgrid = 0;  // 1: the glacier grids start from their files
  int firn_levels = 0;
  double firn_base = 0;         // [m]
  double deltafirnper100m = 0;  // [mm m-1] (used as given, not per 100 m)
  int eval_day = 0, eval_month = 0;
  double VAscaling = 0, VAexponent = 0;
  int numElevBands = 0, extraWeightFactorBand0 = 0;
  snow_grid_file firn_stack;
  snow_statistics_file firn_statistic_we;
  snow_grid_file mass_balance, old_mass_balance;
  snow_statistics_file mass_balance_statistic1, mass_balance_statistic2;
  double debris_scaling = 1.0;  // [-]
  snow_statistics_file snow_storage_statistic;
  snow_grid_file solid_on_glacier, liquid_on_glacier, total_on_glacier, melt_on_glacier;
  snow_grid_file surftemp_on_glacier, snowtemp_on_glacier, evaporation_on_glacier;
  double maxSnowPackToCreateGlacier = 1000;  // [mm]
  double relSizeNewGlacier = 0.25;           // [-]
};

constexpr bool is_dynamic_glacier_method(int m) { return m == 11 || m == 12 || m == 13; }
constexpr bool is_radiation_glacier_method(int m) { return m == 2 || m == 12 || m == 13; }

// Reads "[ice_firn]" after its header. Glacier method, the lines 25 to 27, the
// evaluation date (day 1..31, then month 1..12) and a firn stack of no
// level stop with 80; unreadable keyed lines with 17.
void read_glacier_section(modelobject& reader, DiagStream& diag, std::FILE* file,
                          glacier_parameters& p);

// The statistics file of the snow melt on ice areas of the static methods:
// "qglac.txt" gives "qglac_qsgl_.txt"; empty for a name without ".".
std::string snow_on_ice_statistics_name(const std::string& total_name);

// Adds a cell's glacier value g to its subbasin's record: g above 1 counts
// 1, below 0 (nodata) counts 0; a share above 0 marks the subbasin.
void add_glacier_share(double g, subbasin_glacier_record& record) noexcept;

// [mm] each level of the initial firn at elevation z [m]:
// max(0, gradient * (z - base)).
double initial_firn_level(double gradient, double elevation, double base) noexcept;

// Volume-area relation V = c A^gamma of a glacier [km2] / [10^6 m3 units of
// the relation]. The area of a glacier starts at 0.01 at least; the reference
// volume is at least 0.0543 (the volume of 0.01 km2 with c 28.5, gamma 1.36).
struct glacier_size {
  double area = 0;
  double volume = 0;
  double old_volume = 0;
  double old_area = 0;
};
glacier_size initial_glacier_size(double area, double c, double gamma) noexcept;

struct permafrost_settings {
  int method = 0;
  double Min_Snow_Age_Refreeze = 0;  // [d]
  double Max_SWE_SnowFree = 0;       // [mm]
  snow_statistics_file thaw_statistic;
  double reduced_k_sat = 0;  // [m s-1] kept, unused
};

// Reads "[permafrost]" after its header; a method other than 1 stops with 80.
void read_permafrost_section(modelobject& reader, DiagStream& diag, std::FILE* file,
                             permafrost_settings& p);

// One glacier of the set-up's list: code, subbasin and the cells counted.
struct glacier_record {
  int code = 0;
  int subbasin = 0;
  int cells = 0;
  glacier_size size;
};

// What stops the glacier list: a glacier met again in another subbasin.
struct glacier_list_conflict {
  bool found = false;
  int code = 0, subbasin = 0, row = 0, col = 0;
  double cell_subbasin = 0;
};

// The glaciers of rows and columns 1..nrows, 1..ncols (all held), in the
// order of their first cell: every cell with a share g > 0 and a code k > 0
// adds g * cellsize^2 / 10^6 km2 to glacier k (integer part); its subbasin
// is that of its first cell. The sizes follow from the volume-area relation.
std::vector<glacier_record> build_glacier_list(const grid_matrix& shares, const grid_matrix& codes,
                                               const grid_matrix& subbasins, int nrows, int ncols,
                                               double nodata, double cellsize, double c,
                                               double gamma, glacier_list_conflict& conflict);
