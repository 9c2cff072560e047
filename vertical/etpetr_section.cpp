// The evapotranspiration module's set-up from "[evapotranspiration]": the
// method, the monthly parameters of Hamon and Haude, the file names and
// codes of its grids and statistics, the radiation and sunshine
// polynomials with their checks, the day/night split of the temperature
// amplitude; and the open-water parameters of "[lake_model]".
#include <cerrno>
#include <cmath>
#include <cstdio>

#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "vertical/etpetr.h"

namespace {
constexpr double SUBDAILY_LIMIT = 1440;             // [min] Hamon, Wendling, Haude need daily steps
constexpr double COEFFICIENT_SUM_TOLERANCE = 0.01;  // [-]
constexpr double DIFFUSE_MIN = 0.05, DIFFUSE_MAX = 0.5;  // [-] a0
constexpr int MIN_CLOUDINESS_LINE = 3;                   // [chars] shorter: no cloudiness statistic
const char* const RULE =
    "\n\n-----------------------------------------------------------------------\n";
const char* const ETP_HEAD =
    "\n---------------------- error in evapotranspiration model ------------------- \n";
const char* const LAKE_RULE = "\n\n=======================================\n";
}  // namespace

int verdunstungsmodellklasse::read_numbers(std::FILE* file, double* values, int count) {
  int read = 0;
  while (read < count && scan_one(file, values[read]) == 1) ++read;
  return read;
}

void verdunstungsmodellklasse::read_monthly(std::FILE* file, std::array<double, 14>& values,
                                            bool is_fh) {
  if (read_numbers(file, values.data() + 1, 12) < 12)
    fail_fatal(*diag, 45, ETP_HEAD, "there have to be 12 (monthly) values for the ",
               is_fh ? "fh-parameter for \nHAUDE" : "PEC-parameter for \nHAMON",
               "-evaporation in the control file.", RULE);
  values[0] = values[12];
  values[13] = values[1];
}

void verdunstungsmodellklasse::read_section() {
  std::FILE* file = control.get();
  std::string line;
  read_value(file, "%d", method, "Methode fuer ", line);
  if (method > 1 && layer_count > 1)
    fail_fatal(*diag, 44, ETP_HEAD,
               "\nModelling evapotranspiration after HAMON, WENDLING or HAUDE is only "
               "possible\nfor unlayered Vegetation. Actual parameters: method: ",
               method, ", number of layers: ", layer_count, RULE);
  if (method > 1 && time_interval < SUBDAILY_LIMIT)
    fail_fatal(*diag, 44, ETP_HEAD,
               "\nModelling evapotranspiration after HAMON, WENDLING or HAUDE is only "
               "possible\nfor daily time steps or larger. The actual time step is less than 1440 "
               "min.\nactual parameters: method: ",
               method, ", timestep: ", time_interval, " minutes", RULE);
  read_monthly(file, pec, false);
  read_monthly(file, fh, true);
  read_value(file, "%lf", fk, "fk - Coastfactor (WENDLING) for", line);
  read_value(file, "%s", layer0.pot_grid, "Name of the ETP-Grids for ", line);
  read_value(file, "%d", pot_write, "Writegrid ETP for ", line);
  read_two_values(file, "%s%d", layer0.pot_stat, pot_stat_code, "Name of ETP-stat.file for ", line);
  read_value(file, "%s", layer0.real_grid, "Name of the ETR-Grids for ", line);
  read_value(file, "%d", real_write, "Writegrid ETR for    ", line);
  read_two_values(file, "%s%d", layer0.real_stat, real_stat_code, "Name of the ETR-stat.file for ",
                  line);
  read_value(file, "%s", evap_grid, "Name of the evaporation_potential-grid for ", line);
  read_value(file, "%d", evap_write, "Writegrid EVAP for    ", line);
  read_two_values(file, "%s%d", evap_stat, evap_stat_code,
                  "Name of the evaporation_potential-stat.files for ", line);
  read_value(file, "%s", real_evap_grid, "Name of the evaporation_real grid for ", line);
  read_value(file, "%d", real_evap_write, "Writegrid evaporation real for    ", line);
  read_two_values(file, "%s%d", real_evap_stat, real_evap_stat_code,
                  "Name of the evaporation_real-stat.files for ", line);
  read_value(file, "%s", snow_evap_grid, "Name of the snow evaporation grid for ", line);
  read_value(file, "%d", snow_evap_write, "Writegrid snow evaporation for    ", line);
  read_two_values(file, "%s%d", snow_evap_stat, snow_evap_stat_code,
                  "Name of the evaporation_real-stat.files for ", line);
  read_value(file, "%s", layer0.eip_grid, "Name of the EIP-Grids for ", line);
  read_value(file, "%d", eip_write, "Writegrid ETP for ", line);
  read_two_values(file, "%s%d", layer0.eip_stat, eip_stat_code, "Name of EIP-stat.file for ", line);
  read_two_values(file, "%s%d", radiation_stat, radiation_stat_code,
                  "Name of the RGEX-stat.file for ", line);
  // Lines of bare numbers: a missing number leaves 0 for the checks to judge,
  // and the rest of each line may hold a comment.
  read_numbers(file, radiation_coefficients.data(), 4);
  read_line_rest(file, line);
  read_numbers(file, cs.data(), 4);
  read_line_rest(file, line);
  double pair[2] = {0, 0};
  read_numbers(file, pair, 2);
  transmissivity_mean = pair[0];
  transmissivity_amplitude = pair[1];
  read_line_rest(file, line);
  read_numbers(file, &amplitude_height_scale, 1);
  read_line_rest(file, line);
  read_numbers(file, amplitude_monthly.data() + 1, 12);
  amplitude_monthly[0] = amplitude_monthly[12];
  amplitude_monthly[13] = amplitude_monthly[1];
  read_line_rest(file, line);
  pair[0] = pair[1] = 0;
  if (read_numbers(file, pair, 2) < 2)
    fail_fatal(*diag, 10, "error reading fraction for temperature amplitude for day/night\n",
               "or the annual variability\n");
  amplitude_fraction_day = pair[0];
  annual_variability = pair[1];
  read_line_rest(file, line);
  // The optional cloudiness line; a section header is the next section.
  read_line_rest(file, line);
  const bool header = line.find_first_not_of(" \t") != std::string::npos &&
                      line[line.find_first_not_of(" \t")] == '[';
  if (static_cast<int>(line.size()) >= MIN_CLOUDINESS_LINE && !header) {
    char name_buffer[CONTROL_LINE_PIECE + 1] = {};
    int code = 0;
    const int got = std::sscanf(line.c_str(), "%1199s %d", name_buffer, &code);
    if (got >= 1) {
      cloudiness_stat = name_buffer;
      cloudiness_stat_code = got == 2 ? code : 0;
    }
  }
}

void verdunstungsmodellklasse::check_section_values() {
  if (amplitude_fraction_day < 0 || amplitude_fraction_day > 1)
    fail_fatal(
        *diag, 10,
        "\n---------------------------- error in control file --------------------\n\nThe "
        "splitting of the temperature amplitude between day and night\nhas to be done in a way "
        "that the fraction for the bright day is between 0..1\nread: amplitude_fraction_day: ",
        amplitude_fraction_day, RULE);
  amplitude_fraction_night = 1 - amplitude_fraction_day;
  const auto& a = radiation_coefficients;
  if (a[0] < DIFFUSE_MIN)
    fail_fatal(*diag, 10, "fraction of diffuse radiation is too small: ", a[0],
               " (should be 0.05 ... 0.5)\n");
  if (a[0] > DIFFUSE_MAX)
    fail_fatal(*diag, 10, "fraction of diffuse radiation is too large: ", a[0],
               " (should be 0.05 ... 0.5)\n");
  const double sum = a[0] + a[1] + a[2] + a[3];
  if (std::fabs(sum - 1) > COEFFICIENT_SUM_TOLERANCE)
    fail_fatal(*diag, 10,
               "die Koeffizienten fuer die Modellierung der Globalstrahlung muessen in ihrer Summe "
               "1 ergeben\n",
               " derzeitige Summe: ", a[0], " + ", a[1], " + ", a[2], " + ", a[3], " = ", sum);
  switch (sunshine_threshold_of(cs.data(), sunshine_threshold)) {
    case sunshine_threshold_status::found:
      return;
    case sunshine_threshold_status::not_linear:
      fail_fatal(*diag, 10,
                 "The coefficients for sunshine duration modelling are wrong!\nThere must be at "
                 "minimum a linear relationship\nbetween radiation and sunshine duration\nCS[0]=",
                 cs[0], ", CS[1]=", cs[1], ", CS[2]=", cs[2], ", CS[3]=", cs[3], "\n\n");
    case sunshine_threshold_status::no_root:
      fail_fatal(*diag, 10,
                 "\n----------------------------!! Error !! -----------------------\nThe "
                 "coefficients for sunshine duration modelling are wrong!\nNo null point (root) "
                 "was found between 0 and 1!\nCS[0]=",
                 cs[0], ", CS[1]=", cs[1], ", CS[2]=", cs[2], ", CS[3]=", cs[3],
                 "\n\nuse e.g.: CS[0]=0.072, CS[1]=-0.808, CS[2]=1.749, "
                 "CS[3]=-0.239\n----------------------------------------------------------------");
  }
}

void verdunstungsmodellklasse::read_lake_parameters(const std::string& section) {
  if (store == nullptr || zone_index == nullptr) return;
  if (find_grid("lake_codes") == 0) {
    diag_entry(*diag, "INFO: no LAKE-grid was found in ", name, "\n",
               "Lake modelling is switched off for ", name, ".\n");
    return;
  }
  if (!open_control_file())
    fail_fatal(*diag, 28, "error opening ", control_path, errno_text(errno));
  seek_section(section, true);
  std::FILE* file = control.get();
  std::string line;
  read_value(file, "%d", lake_flow_control, "flow control parameter for ", line);
  if (settings().spinup_switch != 0) lake_flow_control = 0;
  if (lake_flow_control != 0) {
    read_value(file, "%d", lake_init_method, "initialization method for ", line);
    read_value(file, "%lf", albedo_open_water, "Albedo_OpenWater for ", line);
    read_value(file, "%lf", z0_open_water, "z0_OpenWater for ", line);
    lake_codes = (*store)[require_grid("lake_codes")].grid;
    int pond = find_grid("ponding_storage");
    if (pond == 0) pond = find_grid("ponding_storage_top");
    if (pond == 0)
      fail_fatal(*diag, 28, LAKE_RULE + 1, "!!!! ERROR !!!! \n\n",
                 "\nLAKE-grid was found, but no POND-Grid. For using lakes,",
                 "\nboth grids as well as the MAXPOND grid must be present.", LAKE_RULE);
    ponding = (*store)[pond].grid;
    if (lake_init_method != 1 && lake_init_method != 2)
      fail_fatal(*diag, 211, LAKE_RULE + 1, "!!!! ERROR !!!! \n\n ",
                 "Error in initialization method for ", section, ".\n",
                 "Allowed values are 1 (no change of grids) or 2 (adjust DEM, SLOPE, DRAIN).\n",
                 "In either case, theta_soil will be set to saturated, if the cell is marked as "
                 "lake and POND is > 0.",
                 LAKE_RULE);
  }
  std::FILE* f = control.release();
  if (std::fclose(f) != 0)
    fail_fatal(*diag, 11, "error closing ", control_path,
               "after reading initialization method for ", section, errno_text(errno));
}
