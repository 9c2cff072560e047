// External coupling, the part of the settings object that exchanges grids
// and zonal statistics with a partner model through files: it reads
// "[ExternalCoupling]" (stage 22), resolves the named grids and statistics
// once all modules exist, reads the partner's grids at an input exchange and
// accumulates and writes the grids and statistics for the partner at an
// output exchange. The waiting and the semaphore file belong to the
// application's time loop.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "settings/external_coupling_kernels.h"
#include "settings/settings_part.h"

class external_coupling : public settings_part {
 public:
  explicit external_coupling(defaultini& owner) : settings_part(owner) {}

  // Opens the control-file copy (left open for the final stage) and reads
  // the section; without it, or with mode 0, the coupling stays off.
  void read_settings();
  // Resolves the named grids and copies the named statistics over the first
  // registry records.
  void resolve_names(statistics_registry* shared_registry, int shared_registry_size);
  // The partner's grids of an input exchange; then the partner's semaphore
  // file is deleted.
  void read_input(int64_t year, int64_t month, int64_t day, int64_t hour);
  void accumulate_output();
  void write_output(int64_t day, int64_t month, int64_t year, bool day_flag, bool month_flag,
                    bool year_flag);
  // Frees the lists and accumulators.
  void release();

  const coupling_settings& values() const { return coupling; }
  // Mode 1 couples; other values read the section only.
  bool active() const { return coupling.mode == 1; }
  // An input grid has the internal name "GWTableExtern".
  bool has_external_gw_table() const;

 private:
  // Reads the lists of input grids, output grids and statistics.
  void read_lists(std::FILE* file, std::string& line);
  void write_grids(int64_t day, int64_t month, int64_t year, bool day_flag, bool month_flag,
                   bool year_flag);
  void write_statistics();

  coupling_settings coupling;
  statistics_registry* registry = nullptr;
  int registry_size = 0;
};
