// The head of every module section and what a module that is not built yet
// does with it, for all sub-model modules in one table.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>

#include "meteo/superposition.h"
#include "routing/abfluss.h"
#include "routing/surfrout.h"
#include "snow/snowmod.h"
#include "soilwater/gwflow.h"
#include "soilwater/module_fixture.h"
#include "soilwater/siltingup.h"
#include "soilwater/unsatzon.h"
#include "vertical/etpetr.h"
#include "vertical/expokorr.h"
#include "vertical/interzep.h"
#include "vertical/irrigate.h"

namespace {

using module_ptr = std::unique_ptr<teilmodellklasse>;
using module_factory = std::function<module_ptr(module_fixture&, const std::string&, int&)>;

// Constructors with the common arguments only.
template <class M>
module_factory common() {
  return [](module_fixture& f, const std::string& section, int& status) -> module_ptr {
    return std::make_unique<M>(status, f.diag(), nullptr, 0, section, &f.store, f.settings);
  };
}

// Constructors that also take the sub-step count.
template <class M>
module_factory with_substeps() {
  return [](module_fixture& f, const std::string& section, int& status) -> module_ptr {
    return std::make_unique<M>(status, f.diag(), nullptr, 0, section, &f.store, f.settings, 4);
  };
}

// Constructors that take a zone table in place of the settings' one (here
// the settings' own).
template <class M>
module_factory with_zone_table() {
  return [](module_fixture& f, const std::string& section, int& status) -> module_ptr {
    return std::make_unique<M>(status, f.diag(), nullptr, 0, section, &f.store, f.settings,
                               f.settings.zone_table);
  };
}

struct module_row {
  const char* section;
  const char* source;       // name in the source-file line; "" when none is written
  const char* method_line;  // what an active module reads after the head
  module_factory make;
  // Every grid, array or table the module hands out is none.
  std::function<bool(teilmodellklasse&)> hands_out_nothing;
};

// The unsaturated zone reads its whole section when active; its only
// subbasin code is 5.
const std::string UNSATZON_BODY = [] {
  unsatzon_section_text s;
  s.codes = "5";
  s.value_rows = {"1", "1", "1", "1", "1", "1"};
  return s.body();
}();

// The snow module reads its whole section when active: method 1 with the
// file names and statistics of lines 15 to 40 (no files written).
const std::string SNOW_BODY = [] {
  std::string s = "1 method for\n";
  for (int i = 2; i <= 14; ++i) s += "0 value\n";
  for (const char* kind : {"grid", "stat", "grid", "stat", "grid", "stat", "grid", "stat", "stat",
                           "grid", "stat", "grid", "stat", "grid", "grid", "stat", "grid"})
    s += std::string(kind) == "grid" ? "snow.asc name\n0 writegrid\n" : "snow.txt 0 stat\n";
  return s + "0 readgrid\n";
}();

const module_row MODULES[] = {
    {"RegionalSuperposition", "", "",
     [](module_fixture& f, const std::string& section, int& status) -> module_ptr {
       status = 0;
       return std::make_unique<RegionalSuperposition>(f.diag(), nullptr, 0, section, &f.store,
                                                      f.settings);
     },
     nullptr},
    {"radiation_correction", "expokorr", "", common<expokorrklasse>(),
     [](teilmodellklasse& m) {
       return dynamic_cast<expokorrklasse&>(m).get_radiation_correction() == nullptr;
     }},
    {"evapotranspiration", "etpetr", "", common<verdunstungsmodellklasse>(), nullptr},
    // What it hands out is tested in tests/snow/test_snow_setup.cpp.
    {"snow_model", "snowmod", SNOW_BODY.c_str(),
     [](module_fixture& f, const std::string& section, int& status) -> module_ptr {
       f.publish_regions();  // "albedo", "landuse1" and "temperature" among them
       return std::make_unique<schneemodellklasse>(status, f.diag(), nullptr, 0, section,
                                                   &f.store, f.settings);
     },
     nullptr},
    {"interception_model", "interzep", "1  method for\n", common<interzeptionsmodellklasse>(),
     nullptr},
    {"SiltingUpModel", "siltingup", "", common<siltingupclass>(), nullptr},
    {"unsatzon_model", "unsatzon", UNSATZON_BODY.c_str(),
     [](module_fixture& f, const std::string& section, int& status) -> module_ptr {
       f.publish_regions();  // required by the unsaturated zone
       return std::make_unique<unsatzonmodellklasse>(status, f.diag(), nullptr, 0, section,
                                                     &f.store, f.settings, 4);
     },
     [](teilmodellklasse& m) {
       auto& u = dynamic_cast<unsatzonmodellklasse&>(m);
       // Active, it hands out its parameters at once and its runoff records
       // from init_tracers on (test_unsatzon_second_setup.cpp); without the
       // groundwater model never a river-flow table.
       if (u.get_flow_control() != 0) return u.get_riverflow_table() == nullptr;
       return u.get_qbb() == nullptr && u.get_qg() == nullptr && u.get_qd() == nullptr &&
              u.get_qi() == nullptr && u.get_kelsqd() == nullptr && u.get_kelsqi() == nullptr &&
              u.get_storage_file_name() == nullptr && u.get_riverflow_table() == nullptr;
     }},
    {"SurfaceRoutingModel", "surfrout", "", with_substeps<surfaceroutingclass>(),
     [](teilmodellklasse& m) { return dynamic_cast<surfaceroutingclass&>(m).get_qg() == nullptr; }},
    {"irrigation", "irrigate", "", with_zone_table<irrigationclass>(),
     [](teilmodellklasse& m) {
       return dynamic_cast<irrigationclass&>(m).get_irrigation_demand() == nullptr;
     }},
    {"groundwater_flow", "gwflow", "",
     [](module_fixture& f, const std::string& section, int& status) -> module_ptr {
       return std::make_unique<gwflowclass>(status, f.diag(), nullptr, 0, section, &f.store,
                                            f.settings, 4, f.settings.zone_table);
     },
     nullptr},
    {"routing_model", "abfluss", "",
     [](module_fixture& f, const std::string& section, int& status) -> module_ptr {
       return std::make_unique<abflussmodellklasse>(status, f.diag(), nullptr, 0, section,
                                                    &f.store, f.settings, 0, nullptr,
                                                    f.settings.zone_table, 0);
     },
     [](teilmodellklasse& m) {
       auto& r = dynamic_cast<abflussmodellklasse&>(m);
       return r.get_routing_target() == nullptr && r.get_abfrel() == nullptr &&
              r.get_maxirrig() == nullptr && r.get_maxirrig_from_reservoirs() == nullptr;
     }},
};

std::string source_line(const module_row& row) {
  return std::string("file ") + row.source + ", compiled at ";
}

TEST(ModuleHeads, MissingSectionIsControlFileError17) {
  for (const module_row& row : MODULES) {
    SCOPED_TRACE(row.section);
    module_fixture f;
    f.write_control("[some_other_section]\n1 flow control parameter for\n");
    int status = -1;
    int thrown = 0;
    try {
      row.make(f, row.section, status);
    } catch (int code) {
      thrown = code;
    }
    // A missing section leaves the base constructor as a thrown code, never
    // as a status.
    EXPECT_EQ(thrown, 17);
    EXPECT_NE(f.console().find(std::string("error in control file, [") + row.section +
                               "]; (EOF)not found!"),
              std::string::npos)
        << f.console();
  }
}

TEST(ModuleHeads, FlowControlZeroIsInactive) {
  for (const module_row& row : MODULES) {
    SCOPED_TRACE(row.section);
    module_fixture f;
    f.write_control(module_fixture::head(row.section, 0) + row.method_line);
    int status = -1;
    module_ptr m = row.make(f, row.section, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(m->get_flow_control(), 0);
    EXPECT_EQ(m->get_time_interval(), 60);
    if (row.source[0] != '\0') {
      EXPECT_EQ(count_of(f.console(), source_line(row)), 0);
    }
    EXPECT_EQ(count_of(f.console(), "not built yet"), 0);
    if (row.hands_out_nothing) {
      EXPECT_TRUE(row.hands_out_nothing(*m));
    }
    m->release();
  }
}

TEST(ModuleHeads, ActiveModuleWritesItsSourceLineAndMissesNothing) {
  for (const module_row& row : MODULES) {
    SCOPED_TRACE(row.section);
    // Built whole: they read their full sections and need their input grids
    // (tests/vertical/test_expokorr_module.cpp, tests/vertical/test_etpetr_setup.cpp).
    // Also built: the regional superposition reads its entities
    // (tests/meteo/test_superposition.cpp), irrigation its statistics lines
    // and grids (tests/vertical/test_irrigation.cpp), interception and
    // silting-up theirs (tests/vertical/test_interzep.cpp,
    // tests/soilwater/test_siltingup.cpp).
    if (std::string(row.section) == "radiation_correction" ||
        std::string(row.section) == "evapotranspiration" ||
        std::string(row.section) == "RegionalSuperposition" ||
        std::string(row.section) == "irrigation" ||
        std::string(row.section) == "interception_model" ||
        std::string(row.section) == "SiltingUpModel" ||
        std::string(row.section) == "SurfaceRoutingModel" ||  // tests/routing/test_surfrout_module.cpp
        std::string(row.section) == "groundwater_flow" ||     // test_gwflow_setup.cpp
        std::string(row.section) == "routing_model")  // tests/routing/test_abfluss_setup.cpp
      continue;
    module_fixture f;
    f.soil_zone_grid[1][1] = 5;  // the unsaturated zone ranks this grid when active
    f.write_control(module_fixture::head(row.section, 1) + row.method_line);
    int status = -1;
    module_ptr m = row.make(f, row.section, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(m->get_flow_control(), 1);
    if (row.source[0] != '\0') {
      EXPECT_EQ(count_of(f.console(), source_line(row)), 1);
    }
    // Every module that gets here computes its step: none reports a missing part.
    EXPECT_EQ(count_of(f.console(), "not built yet"), 0) << f.console();
    if (row.hands_out_nothing) {
      EXPECT_TRUE(row.hands_out_nothing(*m));
    }
    m->release();
  }
}

TEST(ModuleHeads, UnreadableMethodIsReturnedAsStatus17) {
  module_fixture f;
  f.write_control(module_fixture::head("interception_model", 1) + "eleven method for\n");
  int status = -1;
  interzeptionsmodellklasse interception(status, f.diag(), nullptr, 0, "interception_model",
                                         &f.store, f.settings);
  EXPECT_EQ(status, 17);
  EXPECT_NE(f.console().find("error in control file,  method for ; interception_modelnot found!"),
            std::string::npos)
      << f.console();
}

TEST(ModuleHeads, SpinUpSwitchesOffGroundwaterAndSurfaceRoutingAndSetsUpNoIrrigation) {
  struct spinup_row {
    const char* section;
    const char* source;
    int flow_control_after;  // groundwater and surface routing: 0; irrigation keeps its value
    int source_lines;        // surface routing writes its line before it looks at the SpinUp
  } rows[] = {
      {"groundwater_flow", "gwflow", 0, 0},
      {"SurfaceRoutingModel", "surfrout", 0, 1},
      {"irrigation", "irrigate", 1, 0},
  };
  for (const spinup_row& row : rows) {
    SCOPED_TRACE(row.section);
    const module_row& module = *std::find_if(
        std::begin(MODULES), std::end(MODULES),
        [&](const module_row& m) { return std::string(m.section) == row.section; });
    module_fixture f;
    f.settings.spinup_switch = 1;
    f.write_control(module_fixture::head(row.section, 1));
    int status = -1;
    module_ptr m = module.make(f, row.section, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(m->get_flow_control(), row.flow_control_after);
    EXPECT_EQ(count_of(f.console(), std::string("file ") + row.source + ", compiled at "),
              row.source_lines);
    EXPECT_EQ(count_of(f.console(), "not built yet"), 0);
  }
}

}  // namespace
