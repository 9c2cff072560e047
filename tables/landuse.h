// The land-use table: one landuse_entry per class of "[landuse_table]", with
// the vegetation parameters of the class over the year, and its reader.
//
// A class is written in one line (monthly canopy resistances and four Julian
// sample days; method 1) or as a block of "key = value;" items in braces
// introduced by a method keyword (methods 2 to 6). The table is a vector of
// n + 1 entries whose entry 0 is a header holding n in its code and the
// table's reset and write days of the vegetation-period balance.
//
// The queries over the year (landuse_year.cpp) only read the entry, so the
// modules may call them from their parallel cell loops.
#pragma once

#include <array>
#include <string>
#include <vector>

class DiagStream;
class modelobject;
class grid_matrix;
class stack_matrix;

// Per vegetation layer (index 1..L, index 0 unused) a grid of the phenology
// state, owned by the grid store; an empty list or a null element means the
// input is absent.
using phenology_grids = std::vector<const grid_matrix*>;
using phenology_stacks = std::vector<const stack_matrix*>;

// Land-use method numbers.
constexpr int LANDUSE_ONE_LINE = 1;
constexpr int LANDUSE_VARIABLE_DAY_COUNT = 2;
constexpr int LANDUSE_DYNAMIC_PHENOLOGY_1 = 3;
constexpr int LANDUSE_DYNAMIC_PHENOLOGY_2 = 4;
constexpr int LANDUSE_DYNAMIC_PHENOLOGY_3 = 5;
constexpr int LANDUSE_DYNAMIC_PHENOLOGY_4 = 6;

// Read errors of the land-use table.
constexpr int LANDUSE_READ_ERROR = 29;

// Bits of internal_flags: which parameter grids the table supplies.
constexpr int LANDUSE_BIT_Z0 = 128;
constexpr int LANDUSE_BIT_ROOT_DEPTH = 64;
constexpr int LANDUSE_BIT_VCF = 32;
constexpr int LANDUSE_BIT_LAI = 16;
constexpr int LANDUSE_BIT_RS_INTERCEPTION = 8;
constexpr int LANDUSE_BIT_RSC = 4;
constexpr int LANDUSE_BIT_RS_EVAPORATION = 2;
constexpr int LANDUSE_BIT_ALBEDO = 1;

// A series holds one value per sample day 1..n in elements 1..n; element 0
// repeats element n (the year before). The monthly resistance series of a
// one-line class have elements 0..13: 1..12 January to December, 0 repeating
// December and 13 repeating January.
using landuse_series = std::vector<double>;

struct landuse_entry {
  std::string name;
  int code = 0;
  int method = 0;
  int n_sample_days = 0;
  int start_series_length = 0;              // set by the parameter-grid builder
  int StartVegetationPeriodForBalance = 0;  // sample-day number, 0 = none
  int StopVegetationPeriodForBalance = 1000;
  int JDVegetationResetForBalance = 1;  // [Julian day]
  int JDVegetationWriteForBalance = 0;  // [Julian day]
  int internal_flags = 255;
  std::string useInternalParameters = "11111111";

  // Per cell and layer inputs of the dynamic phenology, set by the
  // parameter-grid builder: series of start days ("MultipleStartTimes"),
  // phenological start day ("Pheno_start"), forcing threshold
  // ("FStar_ForcingThreshold") and forcing sum ("SumOfForcingUnits").
  phenology_stacks start_day_series;
  phenology_grids pheno_start;
  phenology_grids fstar_grid;
  phenology_grids forcing_sum;

  int tstart = 0;                    // reported as "TStart=" with root-depth errors
  int dyn_start_index = -1;          // methods 3, 4, 6: the sample day replaced by the start
  std::vector<int> sample_days;      // [Julian day] 0..n, [0] = [n] - 366
  std::vector<int> sample_days_alt;  // copy of sample_days after reading

  landuse_series rsc;               // [s m-1]
  landuse_series rs_interception;   // [s m-1]
  landuse_series rs_evaporation;    // [s m-1]
  landuse_series Albedo;            // [-]
  landuse_series LAI;               // [m2 m-2]
  landuse_series Z0;                // [m]
  landuse_series VCF;               // [-]
  landuse_series RootDepth;         // [m]
  landuse_series AltDep;            // [d m-1] shift of each sample day above 400 m
  landuse_series ForcingThreshold;  // method 5: forcing sum of each sample point

  double RootDist = 0;
  double HReduDry = 0;
  double TReduWet = 0;
  double LimitReduWet = 0;
  double F_star = 0;  // "F*"
  int JDReset_TStart = 0;
  int DP1_t1_dorm = 0;
  double DP1_T_Bf = 0;  // [degC]
  int DP2_t0_dorm = 0;
  int DP2_t1_dorm = 0;
  double DP2_T_Bc = 0;  // [degC]
  double DP2_T_Bf = 0;  // [degC]
  double DP2_Par_a = 0;
  double DP2_Par_b = 0;
  double DP2_Offset_1 = 0;  // [degC]
  double DP2_Offset_2 = 0;  // [degC]
  int DP4_t0_dorm = 0;
  int DP4_t1_dorm = 0;
  double DP4_T0 = 0;  // [degC]
  double DP4_T1 = 0;  // [degC]
  double DP4_Par_a = 0;
  double DP4_Par_b = 0;
  double DP4_T_xylstop = 0;  // [degC]
  int DP4_t_xs1 = 0;
  int DP4_SPSLF = 0;
  int maxStartJDforDP1 = 0;
  unsigned char phenology_done = 0;
  double StressFactorDynPhen = 0;
  double IntercepCap = -1;  // [mm], -1 = not given

  std::vector<int> soil_tillage_days;  // [Julian day] 0..k, [0] = [k] - 366
  int n_soil_tillage = 0;
  int SR_cultivation = 0;          // 1 conserving, 2 nonconserving, 3 other
  landuse_series SR_StemDiameter;  // [m]
  landuse_series SR_ResidCovrg;    // [-]
  double SR_CropDistX = 0;         // [m]
  double SR_CropDistY = 0;         // [m]
  double SR_K_ST = 0;
  double SR_C_WR = 0;
  std::array<double, 4> SR_rough_coeff1{};  // [1..3], [0] = [3]
  std::array<double, 4> SR_rough_coeff2{};
  landuse_series n_factor;  // "n-factor"
  double nf_freezing = 0;
  double nf_thawing = 0;

  // ---- accessors ----
  int get_code() const { return code; }
  const std::string& get_name() const { return name; }
  double get_root_dist() const { return RootDist; }
  double get_hredu_dry() const { return HReduDry; }
  double get_tredu_wet() const { return TReduWet; }
  double get_limit_redu_wet() const { return LimitReduWet; }
  double get_intercep_cap() const { return IntercepCap; }
  // days[0..count]
  void get_soil_tillage(int& count, const int*& days) const {
    count = n_soil_tillage;
    days = soil_tillage_days.empty() ? nullptr : soil_tillage_days.data();
  }
  int get_sr_cultivation() const { return SR_cultivation; }
  double get_sr_crop_dist_x() const { return SR_CropDistX; }
  double get_sr_crop_dist_y() const { return SR_CropDistY; }
  double get_sr_k_st() const { return SR_K_ST; }
  double get_sr_c_wr() const { return SR_C_WR; }
  void get_sr_rough_coeff1(double& c1, double& c2, double& c3) const {
    c1 = SR_rough_coeff1[1];
    c2 = SR_rough_coeff1[2];
    c3 = SR_rough_coeff1[3];
  }
  void get_sr_rough_coeff2(double& c1, double& c2, double& c3) const {
    c1 = SR_rough_coeff2[1];
    c2 = SR_rough_coeff2[2];
    c3 = SR_rough_coeff2[3];
  }
  double get_nf_freezing() const { return nf_freezing; }
  double get_nf_thawing() const { return nf_thawing; }

  // ---- queries over the year (landuse_year.cpp) ----
  // Day of the year with this table's calendar (February has 29 days when
  // the year is divisible by 4 and not by 400); throws 150 outside 0..366.
  int day_of_year(int day, int month, int year) const;

  // Date queries: the value of a series on a date for a cell (vegetation
  // layer, row, column) at altitude [m].
  double rsc_at_date(DiagStream& diag, int day, int month, int year, int layer, int row, int col,
                     double altitude) const;
  double rs_interception_at_date(DiagStream& diag, int day, int month, int year, int layer, int row,
                                 int col, double altitude) const;
  double rs_evaporation_at_date(DiagStream& diag, int day, int month, int year, int layer, int row,
                                int col, double altitude) const;
  double albedo_at_date(DiagStream& diag, int day, int month, int year, int layer, int row, int col,
                        double altitude) const;
  double sr_stem_diameter_at_date(DiagStream& diag, int day, int month, int year, int layer,
                                  int row, int col, double altitude) const;
  double sr_resid_covrg_at_date(DiagStream& diag, int day, int month, int year, int layer, int row,
                                int col, double altitude) const;
  double n_factor_at_date(DiagStream& diag, int day, int month, int year) const;

  // Julian-day queries. The three resistances of a one-line class turn the
  // day into a date of a year whose February has february_days days.
  double z0_at_day(DiagStream& diag, int jd, int layer, int row, int col, double altitude) const;
  double lai_at_day(DiagStream& diag, int jd, int layer, int row, int col, double altitude) const;
  double vcf_at_day(DiagStream& diag, int jd, int layer, int row, int col, double altitude) const;
  double root_depth_at_day(DiagStream& diag, int jd, int layer, int row, int col,
                           double altitude) const;
  double albedo_at_day(DiagStream& diag, int jd, int layer, int row, int col,
                       double altitude) const;
  double sr_stem_diameter_at_day(DiagStream& diag, int jd, int layer, int row, int col,
                                 double altitude) const;
  double sr_resid_covrg_at_day(DiagStream& diag, int jd, int layer, int row, int col,
                               double altitude) const;
  double rsc_at_day(DiagStream& diag, int jd, int layer, int row, int col, double altitude,
                    int february_days = 28) const;
  double rs_interception_at_day(DiagStream& diag, int jd, int layer, int row, int col,
                                double altitude, int february_days = 28) const;
  double rs_evaporation_at_day(DiagStream& diag, int jd, int layer, int row, int col,
                               double altitude, int february_days = 28) const;
  double n_factor_at_day(int jd) const;
  // jd when the vegetation period of the balance starts (stops) on that day,
  // -1 when not, 0 for a class without a start (stop) sample day.
  double vegetation_start_at_day(DiagStream& diag, int jd, int layer, int row, int col,
                                 double altitude) const;
  double vegetation_stop_at_day(DiagStream& diag, int jd, int layer, int row, int col,
                                double altitude) const;

  // Monthly interpolation of a one-line class's resistances for a day of a
  // month of a year (the year decides February's length).
  double rsc_monthly(int day, int month, int year) const;
  double rs_interception_monthly(int day, int month, int year) const;

  // Series value at a Julian day on the sample days or the cell's start-day
  // series (every Julian-day query but the one-line resistances and n-factor).
  double series_at_day(DiagStream& diag, const landuse_series& series, int jd, int layer, int row,
                       int col, double altitude) const;
};

using landuse_table_t = std::vector<landuse_entry>;

// Fills one entry from a one-line class (method 1); soil_model_mode 2 also
// reads RootDist and HReduDry. Throws 29 after its entries.
void parse_landuse_line(DiagStream& diag, landuse_entry& entry, const std::string& line,
                        int soil_model_mode);

// Fills one entry from a block whose method keyword is given
// ("VariableDayCount", "DynamicPhenology_1" to "DynamicPhenology_4").
// Throws 29 after its entries.
void parse_landuse_block(DiagStream& diag, landuse_entry& entry, const std::string& text,
                         const std::string& keyword);

// Reads "[landuse_table]" of the reader's open control file into table (entry
// 0 the header). The table keeps what was read when a class fails.
void read_landuse_table(modelobject& reader, int soil_model_mode, landuse_table_t& table);
