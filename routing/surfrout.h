// surfaceroutingclass: routes direct runoff and interflow over the land
// surface from cell to cell into the rivers and concentrates it per subbasin,
// handing the total runoff to the channel routing in place of the unsaturated
// zone's. Not built yet: the module reads the head of "[SurfaceRoutingModel]"
// (and is inactive on hydrologic response units), hands out no runoff and
// computes nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "submodel/teilmod.h"
#include "submodel/runoffrecords.h"

class DiagStream;
class grid_store;

class surfaceroutingclass : public teilmodellklasse {
 public:
  surfaceroutingclass(int& status, DiagStream* diag, statistics_registry* registry,
                      int registry_size, const std::string& section, grid_store* store,
                      const settings_context& settings, int substeps);

  void set_substeps(int count) override;
  void init_tracers(int& status, int tracer_count, tracer_entry* tracer_list,
                    statistics_registry* registry, int registry_size) override;
  // One sub-step.
  void time_step(int64_t hour, int64_t day, int64_t month, int64_t year) override;
  // Sub-step k is its time_step.
  void run_substep(const model_date& step, int k) override;
  void begin_step(const model_date& step) override;
  void end_step(const model_date& step) override;
  // Takes the place of release; append: an earlier module already wrote its
  // section of the storage-content file.
  void end_run(int append) override;
  void flush_outputs() override;

  // Total runoff per subbasin, none when inactive.
  virtual subbasin_flow_arrays* get_qg();
  // The setters keep what they get when the module is active.
  virtual void set_qbb(subbasin_flow_arrays* qbb);
  virtual void set_qi(subbasin_flow_arrays* qi);
  virtual void set_qd(subbasin_flow_arrays* qd);
  virtual void set_kelsqd(std::vector<double>* kelsqd);  // [min] per subbasin
  virtual void set_kelsqi(std::vector<double>* kelsqi);  // [min] per subbasin
  // Keeps the file name (none when the unsaturated zone is inactive);
  // readgrid 0, 2 and 4 read nothing.
  virtual void read_state(const std::string* storage_file, int readgrid);

 private:
  subbasin_flow_arrays* qbb = nullptr;
  subbasin_flow_arrays* qi = nullptr;
  subbasin_flow_arrays* qd = nullptr;
  std::vector<double>* kelsqd = nullptr;
  std::vector<double>* kelsqi = nullptr;
  std::string storage_file_name;
};
