// interzeptionsmodellklasse: the water held on the vegetation of every cell,
// filled by the water input up to a capacity from the leaf area index and
// evaporated within a potential rate. Not built yet: the module reads the
// head of "[interception_model]" and, when active, its method (which decides
// whether interception runs before snow); it computes nothing.
#pragma once

#include <cstdint>
#include <string>

#include "submodel/teilmod.h"

class DiagStream;
class grid_store;

class interzeptionsmodellklasse : public teilmodellklasse {
 public:
  interzeptionsmodellklasse(int& status, DiagStream* diag, statistics_registry* registry,
                            int registry_size, const std::string& section, grid_store* store,
                            const settings_context& settings);

  void init_tracers(int& status, int tracer_count, tracer_entry* tracer_list,
                    statistics_registry* registry, int registry_size) override;
  void time_step(int64_t hour, int64_t day, int64_t month, int64_t year) override;
  void release() override;

  void flush_outputs() override;
  // The method when the flow-control value is above 0, else 0; above 10
  // interception runs before snow.
  virtual int get_method();

 private:
  int method = 0;
};
