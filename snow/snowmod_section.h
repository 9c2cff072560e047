// The "[snow_model]" section of the snow module: its parameters with their
// defaults, the file names and write codes of the published grids and the
// statistics files, read line by line with the bounds of every checked value,
// and the fixed method sets that decide which lines, grids and statistics a
// method has.
#pragma once

#include <array>
#include <cstdio>
#include <string>

class DiagStream;
class modelobject;

// Grids published with a file name and a write code from the section.
enum class snow_grid {
  rain_fraction,
  snow_fraction,
  days_snow,
  snow_age,
  snowcover_outflow,
  melt_from_snowcover,
  snowstorage_solid,
  snowstorage_liquid,
  snow_storage_total,
  snowtemp,
  surftemp,
  input_mass,
  mobile_mass,
  deposition,
  count
};

// Statistics files of the section.
enum class snow_statistic {
  outflow,
  melt_only,
  total_storage,
  snow_days,
  snow_age,
  snow,
  rain,
  albedo,
  snowtemp,
  surftemp,
  input_mass,
  mobile_mass,
  deposition,
  count
};

struct snow_grid_file {
  std::string name;
  int write_code = 0;
};

struct snow_statistics_file {
  std::string name;
  int code = 0;
};

struct snow_parameters {
  int method = 0;
  double transzone = 0;  // [degC] half width of the mixed rain/snow interval
  double T0R = 0;        // [degC] rain/snow threshold
  double T0 = 0;         // [degC] melt threshold
  double CWH = 0;        // [-] liquid holding capacity, share of the solid storage
  double CRFR = 0;       // [-] refreezing coefficient
  double C0 = 0;         // [mm degC-1 d-1] degree-day factor
  double C1 = 0;         // [mm degC-1 d-1] temperature-wind factor
  double C2 = 0;         // [mm degC-1 d-1 (m s-1)-1] its wind part
  double z0 = 0;         // [m] kept, unused
  double RMFMIN = 0;     // [mm degC-1 d-1] seasonal radiation melt factor bounds
  double RMFMAX = 0;
  double ALBsnow_min = 0;  // [-] snow albedo bounds
  double ALBsnow_max = 0;
  double maxDepositionSlope = 55;  // [deg] slope above which no snow is deposited
  double maxDepositionFactor = 1;  // [-]
  double minSlideSlope = 30;       // [deg] slope from which snow slides
  double slideMassFrac = 0.01;     // [-] share of the snow that slides
  double LWINcorr = 1;             // [-] long-wave correction factors
  double LWOUTcorr = 1;
  double EnBalScaling = 1.0;  // [-] factor on the warm energy balance
  int readgrid = 0;           // 1: the storage grids start from their files
  std::array<snow_grid_file, static_cast<size_t>(snow_grid::count)> grids{};
  std::array<snow_statistics_file, static_cast<size_t>(snow_statistic::count)> statistics{};

  snow_grid_file& grid(snow_grid g) { return grids[static_cast<size_t>(g)]; }
  const snow_grid_file& grid(snow_grid g) const { return grids[static_cast<size_t>(g)]; }
  snow_statistics_file& statistic(snow_statistic s) { return statistics[static_cast<size_t>(s)]; }
  const snow_statistics_file& statistic(snow_statistic s) const {
    return statistics[static_cast<size_t>(s)];
  }
};

// The method sets of the fourteen snow methods.
constexpr bool is_known_snow_method(int m) { return m >= 1 && m <= 14; }
constexpr bool is_slide_method(int m) {
  return m == 6 || m == 7 || m == 8 || m == 9 || m == 12 || m == 14;
}
constexpr bool is_deposition_method(int m) {
  return m == 7 || m == 9 || m == 10 || m == 11 || m == 13 || m == 14;
}
constexpr bool is_energy_balance_method(int m) { return m == 5 || m == 6 || m == 7 || m == 11; }
constexpr bool has_extra_snow_lines(int m) { return m > 4; }
constexpr bool needs_wind_speed(int m) { return m != 1 && m != 8 && m != 9 && m != 10; }

// Reads the section's lines after its head from file, positioned behind the
// time interval. reader reports unreadable lines (code 17); the bounds of
// lines 57 to 62 stop with 405 to 408, a method outside 1 to 14 with 17.
void read_snow_section(modelobject& reader, DiagStream& diag, std::FILE* file,
                       const std::string& control_name, snow_parameters& p);
