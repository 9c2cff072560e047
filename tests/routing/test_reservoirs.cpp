// Reservoirs and lakes: the entry and its refusals, the lake set-up (checks
// 213 and 224, the level-volume file and its failure 225), the lake water at
// one level, the step balance (inflow - outflow - withdrawals = change of
// the contents, and the 34-column row's Err = 0 for a box lake whose table
// is exact) and the output file.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>

#include "modelbase/memhandling.h"
#include "routing/reservoirs.h"
#include "settings/tracer_entry.h"
#include "support/test_support.h"

namespace {

constexpr int LAKE = 7;

// A 3 x 3 grid of 100 m cells in subbasin 1; the lake is the top-left 2 x 2
// cells (floor 100 m, max ponding 2 m) unless a test changes it.
struct lake_fixture {
  captured_diag cd;
  struct folder {
    std::filesystem::path before = std::filesystem::current_path();
    explicit folder(const std::string& dir) { std::filesystem::current_path(dir); }
    ~folder() { std::filesystem::current_path(before); }
    folder(const folder&) = delete;
    folder& operator=(const folder&) = delete;
  } cwd{cd.dir.path()};
  memory_handling mem;
  grid_matrix codes, maxpond, ponding, zone, dem, etr, prec;
  std::vector<row_strip> strips = {{0, -1}, {1, 3}, {1, 3}, {1, 3}};
  std::vector<int> zone_index = {0, 1, 2};
  reservoir_context ctx;
  SP_class sp;

  explicit lake_fixture(int lake_switch = 1) {
    for (grid_matrix* g : {&codes, &maxpond, &ponding, &zone, &dem, &etr, &prec}) {
      *g = mem.matrix(1, 3, 0, 3, 3);
      for (int r = 1; r <= 3; ++r)
        for (int c = 0; c <= 3; ++c) (*g)[r][c] = 0;
    }
    for (int r = 1; r <= 3; ++r)
      for (int c = 1; c <= 3; ++c) {
        const bool lake = r <= 2 && c <= 2;
        codes[r][c] = lake ? LAKE : NODATA;
        zone[r][c] = 1;
        dem[r][c] = lake ? 100 : 103;
        maxpond[r][c] = lake ? 2000 : 0;
      }
    ctx.diag = cd.diag.get();
    ctx.zone_index = &zone_index;
    ctx.strips = &strips;
    ctx.ncols = 3;
    ctx.nrows = 3;
    ctx.cellsize = 100;
    ctx.lake_switch = lake_switch;
    ctx.reach_code = 1;
    ctx.output_directory = cd.dir.path() + "/";
    ctx.grids.lake_codes = &codes;
    ctx.grids.max_ponding_storage = &maxpond;
    ctx.grids.ponding_storage = &ponding;
    ctx.grids.zonegrid = &zone;
    ctx.grids.elevation = &dem;
    ctx.grids.real_transpiration0 = &etr;
    ctx.grids.prec_on_lakes = &prec;
  }
  // Entry, lake and header; the code thrown, 0 when none.
  int set_up(const std::string& entry = " (file = sp7.txt V0 = 40000 C0 = 0 0 0 0 0 0 0 0 0)") {
    try {
      sp.init_context(ctx);
      sp.parse_entry(LAKE, entry);
      sp.init_lake();
      sp.write_output_header();
      sp.set_ponding_from_level(sp.contents()[0]);
    } catch (int code) {
      return code;
    }
    return 0;
  }
  // A linear rule: release = storage / 36000 s.
  void linear_rule() {
    cd.dir.write("rules.txt", "[abstraction_rule_reservoir_7]\n2\n0 0\n1e7 277.7777777777778\n");
    std::FILE* f = std::fopen(cd.dir.file("rules.txt").c_str(), "r");
    sp.read_rule_section(f);
    std::fclose(f);
  }
  double lake_water() const {  // [m3] in the ponding storage
    double v = 0;
    for (int r = 1; r <= 3; ++r)
      for (int c = 1; c <= 3; ++c)
        if (codes[r][c] == LAKE) v += ponding[r][c] / 1000 * 10000;
    return v;
  }
};

subbasin_flow_arrays no_tracers() { return subbasin_flow_arrays(1, std::vector<double>(3, 0.0)); }

TEST(Reservoirs, BoxLakeBalancesToRoundOff) {
  lake_fixture f;
  ASSERT_EQ(f.set_up(), 0) << f.cd.console();
  f.linear_rule();
  // 40000 m3 over 4 cells of 10000 m2: 1 m of water on every lake cell.
  EXPECT_NEAR(f.ponding[1][1], 1000, 1e-9);
  EXPECT_NEAR(f.sp.level_from_volume(40000), 101, 1e-12);
  const subbasin_flow_arrays flows = no_tracers();
  for (int step = 1; step <= 5; ++step) {
    // The other modules add 10 mm of rain and take 2 mm of evaporation.
    for (int r = 1; r <= 2; ++r)
      for (int c = 1; c <= 2; ++c) {
        f.prec[r][c] = 10;
        f.etr[r][c] = 2;
        f.ponding[r][c] += 10 - 2;
      }
    const double before = f.sp.contents()[0];
    f.sp.balance_step(nullptr, flows, {5.0}, {}, 1, 60, 1000, 500, 2000, 1, 1, step);
    const reservoir_report& rep = f.sp.report();
    SCOPED_TRACE(step);
    EXPECT_NEAR(rep.volume[SP_PREC], 400, 1e-9);
    EXPECT_NEAR(rep.volume[SP_ETR], 80, 1e-9);
    EXPECT_NEAR(rep.volume[SP_QIN], 18000, 1e-9);
    EXPECT_NEAR(rep.volume[SP_IRRIG], 1000, 1e-9);
    EXPECT_NEAR(rep.volume[SP_ABSTR], 500, 1e-9);
    EXPECT_NEAR(rep.volume[SP_DV],
                18000 + 400 - 80 - 1000 - 500 - rep.volume[SP_QOUT], 1e-6);
    EXPECT_NEAR(rep.volume[SP_DV], f.sp.contents()[0] - before, 1e-9 * before);
    EXPECT_NEAR(rep.volume[SP_ERR], 0, 1e-9 * before);
    EXPECT_NEAR(rep.area, 40000, 1e-9);
    EXPECT_NEAR(rep.depth[SP_PREC], 10, 1e-9);
    // The lake cells hold the contents at one level.
    EXPECT_NEAR(f.lake_water(), f.sp.contents()[0], 1e-9 * before);
    EXPECT_NEAR(f.ponding[1][1], f.ponding[2][2], 1e-9);
    f.sp.write_output_row(2000, 1, 1, step);
  }
  f.sp.flush_output(1);
  std::istringstream text(read_file(f.cd.dir.file("sp7.txt")));
  std::string title, label, title2, row;
  std::getline(text, title);
  std::getline(text, label);
  std::getline(text, title2);
  EXPECT_EQ(title, title2);
  EXPECT_EQ(label, "reservoir_7");
  int rows = 0;
  while (std::getline(text, row)) {
    ++rows;
    std::istringstream cells(row);
    std::vector<double> v;
    for (double x = 0; cells >> x;) v.push_back(x);
    ASSERT_EQ(v.size(), 34u) << row;
    EXPECT_NEAR(v[31], 0, 1e-3);  // Err[m3], printed to 6 digits
    EXPECT_NEAR(v[4], f.sp.level_from_volume(v[6]), 1e-3);  // both printed to 6 digits
  }
  EXPECT_EQ(rows, 5);
}

TEST(Reservoirs, PlainReservoirBalanceAndEmptying) {
  lake_fixture f(0);
  ASSERT_EQ(f.set_up(" file = plain.txt V0 = 1000 C0 = 1 2 3 4 5 6 7 8 9 dTmin = 600"), 0);
  EXPECT_EQ(f.sp.sub_step(), 600);
  f.linear_rule();
  const subbasin_flow_arrays flows = no_tracers();
  double contents = 1000;
  for (int step = 1; step <= 3; ++step) {
    f.sp.balance_step(nullptr, flows, {0.5}, {}, 1, 60, 100, 50, 2000, 1, 1, step);
    const reservoir_report& rep = f.sp.report();
    // Without lakes dV, Err, W and A are 0; the contents still balance.
    EXPECT_EQ(rep.volume[SP_DV], 0);
    EXPECT_EQ(rep.volume[SP_ERR], 0);
    EXPECT_EQ(rep.area, 0);
    EXPECT_EQ(rep.depth[SP_QIN], 0);
    contents += 1800 - 100 - 50 - rep.volume[SP_QOUT];
    EXPECT_NEAR(f.sp.contents()[0], contents, 1e-9);
    EXPECT_EQ(f.sp.level_from_volume(contents), 0);
  }
  // The initial routing (no date) keeps the volume but computes the release.
  const double kept = f.sp.contents()[0];
  f.sp.balance_step(nullptr, flows, {0.5}, {}, 1, 60, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(f.sp.contents()[0], kept);
  EXPECT_EQ(f.sp.outflow(), 0);  // inactive without a date, within the table
  // Withdrawals beyond the contents deliver only what is there.
  f.sp.balance_step(nullptr, flows, {0.0}, {}, 1, 60, 1e9, 1e9, 2000, 1, 2, 1);
  EXPECT_NEAR(f.sp.report().volume[SP_IRRIG], kept, 1e-9);
  EXPECT_EQ(f.sp.report().volume[SP_ABSTR], 0);
  EXPECT_EQ(f.sp.contents()[0], 0);
}

TEST(Reservoirs, ReleaseBeyondStoragePlusInflowEndsEmpty) {
  lake_fixture f(0);
  ASSERT_EQ(f.set_up(" file = r.txt V0 = 500 C0 = 0 0 0 0 0 0 0 0 0"), 0);
  f.cd.dir.write("big.txt", "[abstraction_rule_reservoir_7]\n2\n0 0\n1e6 1e6\n");
  std::FILE* rules = std::fopen(f.cd.dir.file("big.txt").c_str(), "r");
  f.sp.read_rule_section(rules);
  std::fclose(rules);
  f.sp.balance_step(nullptr, no_tracers(), {0.1}, {}, 1, 60, 0, 0, 2000, 1, 1, 1);
  EXPECT_NEAR(f.sp.outflow() * 3600, 500 + 360, 1e-9);
  EXPECT_NEAR(f.sp.contents()[0], 0, 1e-9);
}

TEST(Reservoirs, LevelVolumeFile) {
  lake_fixture f;
  ASSERT_EQ(f.set_up(), 0);
  const std::string text = read_file(f.cd.dir.file("W_V_Table_07.dat"));
  // D = 2 m: 200 levels 0.01 m apart from 102 m down, then the floor.
  EXPECT_EQ(text.rfind("waterlevel-volume-table lake 7\nLevel[m a.s.l.]\tVolume[m^3]\n102\t80000\n"
                       "101.99\t79600\n",
                       0),
            0u)
      << text.substr(0, 200);
  EXPECT_NE(text.find("\n100\t0\n"), std::string::npos);
  EXPECT_EQ(f.sp.table().N, 201);
}

TEST(Reservoirs, RefusedEntriesAndLakes) {
  struct row {
    const char* what;
    int code;
    const char* message;
  };
  const row rows[] = {
      {"no file", 35, "for reservoir 7: no \"file =\" found!"},
      {"no V0", 35, "for reservoir 7: no \"V0 =\" found!"},
      {"no C0", 35, "for reservoir 7: no \"C0 =\" found!"},
      {"short C0", 35, "needs nine initial concentrations"},
      {"altitude", 213, "All Cells for a lake must have the same Altitude value for DEM + MAXPOND"},
      {"subbasin", 224, " Lake 7 must be located completely within subbasin 1."},
      {"no cells", 224, "Lake 7 has no cell in the lake grid"},
      {"table file", 225, "error opening W_V_Table_07.dat for writing the waterlevel-volume-relation"},
      {"output file", 37, "for reservoir 7"},
  };
  for (const row& x : rows) {
    lake_fixture f;
    std::string entry = " file = sp7.txt V0 = 1 C0 = 0 0 0 0 0 0 0 0 0";
    const std::string w = x.what;
    if (w == "no file") entry = " V0 = 1 C0 = 0 0 0 0 0 0 0 0 0";
    if (w == "no V0") entry = " file = a.txt C0 = 0 0 0 0 0 0 0 0 0";
    if (w == "no C0") entry = " file = a.txt V0 = 1";
    if (w == "short C0") entry = " file = a.txt V0 = 1 C0 = 0 0 0";
    if (w == "altitude") f.dem[2][2] = 100.5;
    if (w == "subbasin") f.zone[2][1] = 2;
    if (w == "no cells")
      for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 3; ++c) f.codes[r][c] = NODATA;
    if (w == "table file") std::filesystem::create_directory(f.cd.dir.file("W_V_Table_07.dat"));
    if (w == "output file") entry = " file = /no/such/folder/sp.txt V0 = 1 C0 = 0 0 0 0 0 0 0 0 0";
    EXPECT_EQ(f.set_up(entry), x.code) << x.what;
    EXPECT_NE(f.cd.console().find(x.message), std::string::npos) << x.what << "\n" << f.cd.console();
  }
}

TEST(Reservoirs, RelativeNamesGetTheOutputFolder) {
  lake_fixture f(0);
  ASSERT_EQ(f.set_up(" file = sub/r.txt V0 = 1 C0 = 0 0 0 0 0 0 0 0 0"), 37);
  EXPECT_NE(f.cd.console().find(f.cd.dir.path() + "/sub/r.txt"), std::string::npos);
  lake_fixture g(0);
  const std::string absolute = g.cd.dir.file("abs.txt");
  ASSERT_EQ(g.set_up(" file = " + absolute + " V0 = 1 C0 = 0 0 0 0 0 0 0 0 0"), 0);
  EXPECT_EQ(g.sp.output_file(), absolute);
}

}  // namespace

namespace {

TEST(Reservoirs, RowsThatCannotBeAppendedStopWith65) {
  lake_fixture f(0);
  ASSERT_EQ(f.set_up(" file = gone.txt V0 = 1 C0 = 0 0 0 0 0 0 0 0 0"), 0);
  f.sp.write_output_row(2000, 1, 1, 1);
  // The file turned into a folder: it cannot be opened for appending.
  std::filesystem::remove(f.cd.dir.file("gone.txt"));
  std::filesystem::create_directory(f.cd.dir.file("gone.txt"));
  try {
    f.sp.flush_output(1);
    ADD_FAILURE() << "no error";
  } catch (int code) {
    EXPECT_EQ(code, 65);
  }
  EXPECT_NE(f.cd.console().find("error opening reservoir file " + f.cd.dir.path() + "/gone.txt"),
            std::string::npos);
  // The buffer holds as many rows as about 2 MiB take: 2097152 / (35 x 8).
  EXPECT_EQ(f.sp.row_capacity(), 7489);
}

}  // namespace

namespace {

TEST(Reservoirs, TracersMixDecayAndLieOnTheLakeCells) {
  lake_fixture f;
  tracer_entry tracers[2];
  tracers[1].name = "cl_";
  tracers[1].radioactive = 1;
  tracers[1].decay_factor = 0.5;
  grid_matrix conc = f.mem.matrix(1, 3, 0, 3, 3);
  for (int r = 1; r <= 3; ++r)
    for (int c = 0; c <= 3; ++c) conc[r][c] = 0;
  f.ctx.ntr = 1;
  f.ctx.tracers = tracers;
  f.ctx.grids.tracer_storage = {nullptr, &conc};
  ASSERT_EQ(f.set_up(" file = t.txt V0 = 40000 C0 = 3 0 0 0 0 0 0 0 0"), 0) << f.cd.console();
  f.linear_rule();
  // The lake cells take the initial concentration.
  EXPECT_EQ(conc[1][1], 3);
  EXPECT_EQ(conc[3][3], 0);
  // One cell holds more of the tracer: the lake's concentration is the
  // volume-weighted mean, 40000 m3 at (3 x 3 + 7) / 4 = 4.
  conc[2][2] = 7;
  std::vector<double> totals(2, 0.0);
  EXPECT_NEAR(f.sp.sum_lake_cells(totals), 40000, 1e-9);
  EXPECT_NEAR(totals[1], 4, 1e-12);
  // A step: decay by half, then mixing with 18000 m3 of inflow at 1.
  subbasin_flow_arrays flows(2, std::vector<double>(3, 0.0));
  flows[1][1] = 1;
  f.sp.balance_step(nullptr, flows, {5.0, 1.0}, {}, 1, 60, 0, 0, 2000, 1, 1, 1);
  const double expected = (40000 * 2.0 + 18000 * 1.0) / (40000 + 18000);
  EXPECT_NEAR(f.sp.contents()[1], expected, 1e-12);
  EXPECT_NEAR(conc[1][2], expected, 1e-12);
}

}  // namespace
