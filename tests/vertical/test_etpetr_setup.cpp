// The evapotranspiration module's set-up: every check of its section with
// its code and words, the sunshine threshold x* found from the polynomial
// (CS = 0.072, -0.808, 1.749, -0.239 has stationary points at 0.24310 and
// 4.636 by hand), the layer file names, the grids it publishes, the
// open-water parameters and the follower cells of SpinUp.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "etpetr_fixture.h"

namespace {

TEST(EtpSetUp, SectionChecks) {
  struct row {
    const char* what;
    std::function<void(etp_section&)> change;
    int layers;
    int status;
    const char* message;
  } rows[] = {
      {"daily Hamon, one layer", [](etp_section& s) { s.method = 2; }, 1, 0, "file etpetr"},
      {"Hamon at 1439 minutes",
       [](etp_section& s) {
         s.method = 2;
         s.interval = 1439;
       },
       1, 44, "for daily time steps or larger. The actual time step is less than 1440 min."},
      {"Haude with two layers: the layer test first",
       [](etp_section& s) {
         s.method = 4;
         s.interval = 1439;
       },
       2, 44, "for unlayered Vegetation. Actual parameters: method: 4, number of layers: 2"},
      {"eleven PEC values before a word",
       [](etp_section& s) { s.pec = "1 1 1 1 1 1 1 1 1 1 1 PEC"; }, 1, 45,
       "12 (monthly) values for the PEC-parameter for \nHAMON-evaporation"},
      {"fh values spread over lines",
       [](etp_section& s) { s.fh = "0.2 0.2 0.2\n0.2 0.2 0.2 0.2 0.2 0.2 0.2 0.2 0.2"; }, 1, 0,
       "file etpetr"},
      {"one fraction only", [](etp_section& s) { s.fractions = "0.5"; }, 1, 10,
       "error reading fraction for temperature amplitude for day/night\nor the annual "
       "variability\n"},
      {"fraction of the day 1", [](etp_section& s) { s.fractions = "1 0"; }, 1, 0, "file etpetr"},
      {"fraction of the day -0.1", [](etp_section& s) { s.fractions = "-0.1 0"; }, 1, 10,
       "the fraction for the bright day is between 0..1\nread: amplitude_fraction_day: "},
      {"a0 0.04", [](etp_section& s) { s.coefficients = "0.04 0.5 0.46 0"; }, 1, 10,
       "fraction of diffuse radiation is too small: "},
      {"a0 0.6", [](etp_section& s) { s.coefficients = "0.6 0.4 0 0"; }, 1, 10,
       "fraction of diffuse radiation is too large: "},
      {"sum 1.005", [](etp_section& s) { s.coefficients = "0.25 0.5 0.25 0.005"; }, 1, 0,
       "file etpetr"},
      {"sum 1.02", [](etp_section& s) { s.coefficients = "0.25 0.5 0.25 0.02"; }, 1, 10,
       "muessen in ihrer Summe 1 ergeben\n derzeitige Summe: "},
      {"x* outside 0..1", [](etp_section& s) { s.cs = "0.5 1 0 0"; }, 1, 10,
       "No null point (root) was found between 0 and 1!"},
      {"no linear term", [](etp_section& s) { s.cs = "0.5 0 0 0"; }, 1, 10,
       "There must be at minimum a linear relationship"},
      {"method 5 with radiation grids", [](etp_section& s) { s.method = 5; }, 1, 46,
       "erlative sunshine duration (SSD, in 1/1)  or global radiation"},
  };
  for (const auto& r : rows) {
    etp_fixture f(grass_inputs());
    if (r.layers > 1) {
      f.use_layers(r.layers);
      f.add("landuse", 1);
      f.add("landuse2", 1);
    }
    f.add("temperature_14", 20);
    f.add("air_humidity_14", 0.5);
    etp_section s;
    r.change(s);
    int status = -1;
    auto m = f.build(s, status);
    EXPECT_EQ(status, r.status) << r.what << "\n" << f.cd.console();
    EXPECT_TRUE(f.logged(r.message)) << r.what << "\n" << f.cd.console();
    if (status == 0) m->release();
  }
}

TEST(EtpSetUp, MissingInputs) {
  struct row {
    const char* what;
    const char* removed;
    int method;
    int status;
    const char* message;
  } rows[] = {
      {"Penman-Monteith without humidity", "vapor_pressure", 1, 46,
       "vapor pressure (e, in mbar) or relative air humidity (RLF, in 1/1)."},
      {"Penman-Monteith without wind", "wind_speed", 1, 33, "wind_speed"},
      {"Wendling without radiation or sunshine", "global_radiation", 3, 46,
       "or net radiation (RN, in Wh/m^2) (either RG or RN!)"},
  };
  for (const auto& r : rows) {
    auto inputs = grass_inputs();
    inputs.erase(r.removed);
    if (r.method == 3) inputs.erase("sunshine_duration");
    etp_fixture f(inputs);
    etp_section s;
    s.method = r.method;
    int status = -1;
    auto m = f.build(s, status);
    EXPECT_EQ(status, r.status) << r.what;
    EXPECT_TRUE(f.logged(r.message)) << r.what << "\n" << f.cd.console();
  }
}

TEST(EtpSetUp, SunshineThreshold) {
  struct row {
    const char* cs;
    double threshold;
  } rows[] = {{"0.072 -0.808 1.749 -0.239", 0.24310}, {"-0.2 1 0 0", 0.2}, {"0 0 1 0", 0}};
  for (const auto& r : rows) {
    etp_fixture f(grass_inputs());
    etp_section s;
    s.cs = r.cs;
    int status = -1;
    auto m = f.build(s, status);
    ASSERT_EQ(status, 0) << r.cs << f.cd.console();
    EXPECT_NEAR(m->get_sunshine_threshold(), r.threshold, 5e-6) << r.cs;
    m->release();
  }
}

TEST(EtpSetUp, CloudinessStatisticLine) {
  // The line after the day/night fractions names the cloudiness statistic;
  // missing, empty or shorter than 3 characters: "cloudiness" with code 0,
  // no file.
  struct row {
    const char* line;
    const char* file;  // written at set-up, or none
  } rows[] = {{"cloud.txt 2001", "cloud.txt"},
              {"", nullptr},
              {"c", nullptr},
              {"cl", nullptr},
              {"cloud.txt", nullptr}};
  for (const auto& r : rows) {
    etp_fixture f(grass_inputs());
    const std::string out = f.cd.dir.path() + "/";
    f.settings.output_directory = &out;
    etp_section s;
    s.cloudiness_line = r.line;
    int status = -1;
    auto m = f.build(s, status);
    ASSERT_EQ(status, 0) << r.line << f.cd.console();
    if (r.file != nullptr) {
      EXPECT_NE(read_file(out + r.file).find("cloudiness_submodel:evapotranspiration"),
                std::string::npos)
          << r.line;
    }
    EXPECT_FALSE(std::ifstream(out + "cloudiness").good()) << r.line;
    EXPECT_FALSE(r.file == nullptr && std::ifstream(out + "cloud.txt").good()) << r.line;
    m->release();
  }
}

TEST(EtpSetUp, LayerFileNames) {
  struct row {
    const char* name;
    int layer;
    const char* expected;
  } rows[] = {{"pot.asc", 1, "pot_Layer_1.asc"},
              {"pot", 1, "pot_Layer_1"},
              {"out/pot.v2.asc", 2, "out/pot.v2_Layer_2.asc"}};
  for (const auto& r : rows) EXPECT_EQ(layer_file_name(r.name, r.layer), r.expected) << r.name;
}

TEST(EtpSetUp, PublishedGridsOfTwoLayers) {
  auto inputs = grass_inputs();
  for (const char* name :
       {"landuse", "landuse2", "leaf_area_index2", "root_depth2", "vegetation_coverage_degree2",
        "SurfaceCanopyResistance2", "SurfaceIntercepResistance2", "RoughnessLength2"})
    inputs[name] = 1;
  etp_fixture f(inputs);
  f.use_layers(2);
  int status = -1;
  auto m = f.build(etp_section{}, status);
  ASSERT_EQ(status, 0) << f.cd.console();
  EXPECT_EQ(m->get_layer_count(), 2);
  // Temperature 128, vapour pressure 64, sunshine 8, radiation 4; no air
  // pressure.
  EXPECT_EQ(m->get_input_mask(), 128 + 64 + 8 + 4);
  // Three per layer 0..2 at consecutive entries, then the six single grids.
  const int first = f.index_of("pot_transpiration0");
  const char* order[] = {"pot_transpiration0",
                         "real_transpiration0",
                         "potential_InterceptionEvap0",
                         "pot_transpiration1",
                         "real_transpiration1",
                         "potential_InterceptionEvap1",
                         "pot_transpiration2",
                         "real_transpiration2",
                         "potential_InterceptionEvap2",
                         "potential_evaporation",
                         "real_evaporation",
                         "snow_evaporation",
                         "AspectCorrectedGlobalRadiation",
                         "cloudiness",
                         "SSDTemp"};
  for (int i = 0; i < 15; ++i) EXPECT_EQ(f.index_of(order[i]), first + i) << order[i];
  EXPECT_EQ(*f.store[f.index_of("pot_transpiration0")].file_name, "pot.asc");
  EXPECT_EQ(*f.store[f.index_of("pot_transpiration1")].file_name, "pot_Layer_1.asc");
  EXPECT_EQ(*f.store[f.index_of("pot_transpiration2")].file_name, "pot_Layer_2.asc");
  EXPECT_EQ(*f.store[f.index_of("potential_InterceptionEvap1")].file_name, "eip_Layer_1.asc");
  EXPECT_EQ(f.named("SSDTemp")[1][2], 0.5);
  EXPECT_EQ(f.named("pot_transpiration1")[1][2], 0);
  EXPECT_FALSE(f.logged("not built yet"));
  m->release();
  EXPECT_EQ(f.index_of("pot_transpiration0"), 0);
  EXPECT_EQ(f.index_of("SSDTemp"), 0);
}

TEST(EtpSetUp, InactiveModule) {
  etp_fixture f({});
  etp_section s;
  s.flow_control = 0;
  int status = -1;
  auto m = f.build(s, status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(f.index_of("pot_transpiration0"), 0);
  m->compute_potential_evapotranspiration(24, 1, 6, 2020);
  m->flush_outputs();
  m->release();
  // A missing section is a control-file error, not an inactive module (it
  // leaves the base constructor as a thrown code).
  etp_fixture missing({});
  missing.cd.dir.write("control.$$$", "[snow_model]\n0\n60\n");
  int thrown = 0;
  try {
    verdunstungsmodellklasse none(status, missing.cd.diag.get(), &missing.registry, 200,
                                  "evapotranspiration", &missing.store, missing.settings);
  } catch (int code) {
    thrown = code;
  }
  EXPECT_EQ(thrown, 17);
  EXPECT_TRUE(missing.logged("[evapotranspiration]; (EOF)not found!")) << missing.cd.console();
}

TEST(EtpSetUp, LakeParameters) {
  struct row {
    const char* what;
    const char* lake_section;
    std::vector<const char*> grids;
    int spinup;
    int status;
    int lake_flow_control;
    const char* message;
  } rows[] = {
      {"no lake grid",
       "1\n1\n0.08\n0.001\n",
       {},
       0,
       0,
       0,
       "no LAKE-grid was found in evapotranspiration\nLake modelling is switched off for "
       "evapotranspiration.\n"},
      {"ponding_storage_top only",
       "1\n2\n0.08\n0.001\n",
       {"lake_codes", "ponding_storage_top"},
       0,
       0,
       1,
       "file etpetr"},
      {"no ponding grid",
       "1\n1\n0.08\n0.001\n",
       {"lake_codes"},
       0,
       28,
       1,
       "\nLAKE-grid was found, but no POND-Grid. For using lakes,"},
      {"initialization method 3",
       "1\n3\n0.08\n0.001\n",
       {"lake_codes", "ponding_storage"},
       0,
       211,
       1,
       "Allowed values are 1 (no change of grids) or 2 (adjust DEM, SLOPE, DRAIN)."},
      {"SpinUp: lakes off after the first line",
       "1\n",
       {"lake_codes", "ponding_storage"},
       1,
       0,
       0,
       "file etpetr"},
  };
  for (const auto& r : rows) {
    etp_fixture f(grass_inputs());
    for (const char* g : r.grids) f.add(g, 1);
    f.settings.spinup_switch = r.spinup;
    if (r.spinup != 0) {
      f.add("HydrologicResponseUnits", 1);
      f.add("MasterHydrologicResponseUnits", 1);
    }
    etp_section s;
    f.cd.dir.write("control.$$$", s.text() + "[lake_model]\n" + r.lake_section);
    int status = -1;
    auto m = std::make_unique<verdunstungsmodellklasse>(status, f.cd.diag.get(), &f.registry, 200,
                                                        "evapotranspiration", &f.store, f.settings);
    ASSERT_EQ(status, 0) << r.what << f.cd.console();
    int code = 0;
    try {
      m->read_lake_parameters("[lake_model]");
    } catch (int thrown) {
      code = thrown;
    }
    EXPECT_EQ(code, r.status) << r.what;
    EXPECT_EQ(m->get_lake_flow_control(), r.lake_flow_control) << r.what;
    EXPECT_TRUE(f.logged(r.message)) << r.what << "\n" << f.cd.console();
    m->release();
  }
}

TEST(EtpSetUp, FollowerCellsNeedTheirUnit) {
  struct row {
    const char* what;
    double unit;
    double master_process;  // "MPIRegions" of the master cell (1, 1)
    int status;
    const char* message;
  } rows[] = {
      {"unit 1, master cell 1", 1, 0, 0, "file etpetr"},
      {"unit 5 not in the list", 5, 0, 17,
       "hydrologic response unit 5 of cell (1, 3) is not in the list of 1 units "
       "(evapotranspiration)"},
      {"master cell of another process", 1, 1, 17,
       "the master cell (1, 1) of hydrologic response unit 1 lies outside the cells of process 0 "
       "(evapotranspiration)"},
  };
  for (const auto& r : rows) {
    etp_fixture f(grass_inputs());
    f.settings.spinup_switch = 1;
    const std::vector<hru_entry> units{hru_entry{}, hru_entry{1, "", 1, 1}};
    f.settings.hru_list = &units;
    f.add("HydrologicResponseUnits", 1)[1][3] = r.unit;
    f.add("MasterHydrologicResponseUnits", 1)[1][3] = -9999;
    f.add("MPIRegions", 0)[1][1] = r.master_process;
    int status = -1;
    auto m = f.build(etp_section{}, status);
    EXPECT_EQ(status, r.status) << r.what;
    EXPECT_TRUE(f.logged(r.message)) << r.what << "\n" << f.cd.console();
    if (status != 0) continue;
    // The follower takes the master's values, which differ from its own.
    f.named("temperature")[1][3] = 35;
    m->compute_potential_evapotranspiration(24, 21, 6, 2020);
    EXPECT_GT(f.named("pot_transpiration0")[1][1], 0);
    EXPECT_EQ(f.named("pot_transpiration0")[1][3], f.named("pot_transpiration0")[1][1]);
    EXPECT_EQ(f.named("potential_evaporation")[1][3], f.named("potential_evaporation")[1][1]);
    m->release();
  }
}

}  // namespace
