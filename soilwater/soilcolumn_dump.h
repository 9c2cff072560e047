// Dump files of soil columns that leave their valid range: after every water
// sub-step a column in dump mode is checked for a base flow beyond +-10, a
// water content below 0 or above saturation (+0.001) and, with heat
// transfer, a temperature beyond +-70 degC or a local extreme in layers
// 1..n-1. A failing column is written, as it was before the iteration of
// that sub-step, to a binary file that lets the sub-step be replayed; the
// run can then stop (code 199) or set the values back into their ranges.
// One counter per process, shared by its threads, decides whether a file is
// still allowed.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class DiagStream;

// The dump options of the command line and the process's counter.
struct DumpControl {
  bool dumpmode = false;
  bool close_after_dump = false;
  bool repair_after_dump = false;
  int64_t max_files = 0;  // 0: no limit
  DiagStream* diag = nullptr;
  int64_t counter = 0;  // failures found so far (guarded by lock)
  std::mutex lock;
};

// The cell of a column as its dump file names and records it.
struct DumpCell {
  int row = 0, col = 0;
  int soil_type = 0;
  const double* landuse = nullptr;  // codes of vegetation layers 1..V
  int hour = 0, day = 0, month = 0, year = 0;
};

// Which checks failed; a layer number of 0 means the check passed.
struct DumpCheck {
  bool baseflow = false;
  int water = 0;  // first layer outside [0, theta_sat + 0.001]
  int heat = 0;   // first layer 1..n-1 beyond +-70 degC or a local extreme
  bool failed() const { return baseflow || water != 0 || heat != 0; }
};

// The column before the iteration of one water sub-step and the values of
// the file's tail, in the order of the file.
struct DumpSnapshot {
  int roots = 0;                      // layers of the last extract_transpiration
  double mean_suction = 0;            // [m] last compute_heads before the iteration
  double w = 0;                       // [m s-1] water input rate
  double baseflow = 0;                // [m s-1] base-flow rate
  std::vector<double> transpiration;  // [mm] 0..V of the call so far
  // 14 layer arrays (21 with heat) of n + 1 values each.
  std::vector<double> layers;
  double dt_heat = 0;  // [s]
  int soil_type = 0;
  std::vector<double> landuse;  // codes of vegetation layers 1..V
  int hour = 0, day = 0, month = 0, year = 0;
  double water_substeps = 0, dt_water = 0;
  double heat_substeps = 0;
  int ratio = 0;
  double t_air = 0;  // [degC]

  // Copies count layer arrays of n + 1 values each, in the file's order.
  void take(int layers_n, const double* const* arrays, int count);
  // Layer array i (0-based in the file's order).
  const double* array(int i, int layers_n) const {
    return layers.data() + static_cast<size_t>(i) * (static_cast<size_t>(layers_n) + 1);
  }
};

constexpr int DUMP_WATER_ARRAYS = 14;
constexpr int DUMP_HEAT_ARRAYS = 7;
constexpr int DUMP_STACK_TEMPERATURE = DUMP_WATER_ARRAYS + 1;  // index of the stack temperatures

// The checks of one column after the heat sub-steps. t_before and t are the
// temperatures before the iteration and now (null without heat transfer);
// t_surface is the air temperature times the n-factor.
DumpCheck check_column(int layers, const double* theta, const double* theta_sat, double baseflow,
                       const double* t_before, const double* t, double t_surface);

// Sets the failing values back: base flow into [-10, 10], water contents
// into [0, theta_sat], temperatures into [-70, 70] and local extremes of
// layers 1..n-1 to the nearest of their references.
void repair_column(const DumpCheck& check, int layers, double* theta, const double* theta_sat,
                   double& baseflow, const double* t_before, double* t, double t_surface);

// "theta(2)_dump_row_12_col_7_substep_3_2010030506.dmp" and its kin.
std::string dump_file_name(const DumpCheck& check, int row, int col, int substep, int year,
                           int month, int day, int hour);

// Writes the snapshot in the file's layout; false when the file cannot be
// opened or written (the caller goes on without a message).
bool write_dump_file(const std::string& name, const DumpSnapshot& s, int layers, int vegetation,
                     bool heat);

// The non-template part of handle_dump: file and count under the lock;
// returns the count after this failure. Throws 199 under -closeAfterDump.
int64_t record_dump(DumpControl& control, const std::string& name, const DumpSnapshot& snapshot,
                    int layers, int vegetation, bool heat);
// The DEBUG entry of a repair numbered count.
void report_repair(DumpControl& control, int64_t count);

// A failed check of one column: writes the file while the maximum allows
// it, counts, stops the run with 199 under -closeAfterDump, or repairs
// (calls repair) with its DEBUG entries. Safe to call from threads.
template <class Repair>
void handle_dump(DumpControl& control, const DumpCheck& check, const std::string& name,
                 const DumpSnapshot& snapshot, int layers, int vegetation, bool heat,
                 Repair repair) {
  if (!check.failed()) return;
  const int64_t count = record_dump(control, name, snapshot, layers, vegetation, heat);
  if (!control.repair_after_dump) return;
  repair();
  report_repair(control, count);
}
