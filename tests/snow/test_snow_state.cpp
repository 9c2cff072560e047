// The "[snow_model]" section of the storage-content file: the exact lines it
// writes, what it reads back, the mismatches that stop the run, the cold
// starts, the readgrid values that read and write nothing, and a file that
// cannot be written.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "snow/snow_fixture.h"

namespace {

// Two subbasins; with glaciers the static method 1 whose outflows start at
// 1.5, 0 and 2.25 (lines 13 to 15).
std::unique_ptr<schneemodellklasse> build(snow_fixture& f, bool glaciers) {
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 3; ++c) f.grid("zonegrid_soilmodel")[r][c] = c < 3 ? 1 : 2;
  snow_section_text s;
  if (glaciers) {
    f.publish("ice_firn")[1][1] = 1;
    s.after = ice_firn_text{}.text();
  }
  f.write(s);
  int status = -1;
  auto m = f.build(status);
  EXPECT_EQ(status, 0) << f.console();
  return m;
}

const std::string WRITTEN =
    "[snow_model]\n2 (number of subasins)\n"
    "1\t1.500000(TG code and Qice_slr value)\n1\t0.000000(TG code and Qfirn_slr value)\n"
    "1\t2.250000(TG code and Qsnow_slr value)\n2\t1.500000(TG code and Qice_slr value)\n"
    "2\t0.000000(TG code and Qfirn_slr value)\n2\t2.250000(TG code and Qsnow_slr value)\n\n";

TEST(SnowState, WrittenLines) {
  struct row {
    const char* what;
    bool glaciers;
    std::string expected;
  } rows[] = {
      {"outflows 1.5, 0, 2.25", true, WRITTEN},
      {"no glacier part: zeros", false,
       "[snow_model]\n2 (number of subasins)\n"
       "1\t0.000000(TG code and Qice_slr value)\n1\t0.000000(TG code and Qfirn_slr value)\n"
       "1\t0.000000(TG code and Qsnow_slr value)\n2\t0.000000(TG code and Qice_slr value)\n"
       "2\t0.000000(TG code and Qfirn_slr value)\n2\t0.000000(TG code and Qsnow_slr value)\n\n"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    snow_fixture f;
    auto m = build(f, r.glaciers);
    const std::string path = f.cd.dir.file("state_0");
    f.cd.dir.write("state_0", "[unsatzon_model]\n");
    m->read_state(&path, 0);
    m->set_initialized(1);
    m->release();  // appends its section
    EXPECT_EQ(read_file(path), "[unsatzon_model]\n" + r.expected);
  }
}

TEST(SnowState, ReadBackAndMismatches) {
  struct row {
    const char* what;
    std::string file;
    int status;
    const char* message;
    double ice1;  // Qice_slr of subbasin 1 afterwards
  } rows[] = {
      {"read back to six decimals",
       "x\n[snow_model]\n2 (number of subasins)\n1\t0.123457(c)\n1\t2(c)\n1\t3(c)\n2\t4(c)\n"
       "2\t5(c)\n2\t6(c)\n",
       0, "", 0.123457},
      {"zone codes instead of indices",
       "[snow_model]\n2\n10\t1(c)\n10\t2(c)\n10\t3(c)\n20\t4(c)\n20\t5(c)\n20\t6(c)\n", 71,
       "(snow model) error in storage file content reading subbasin code:\nvalue in actual "
       "control is:   1\nbut value in storage file is: 10\nVelmo throws...",
       1.5},
      {"three subbasins", "[snow_model]\n3\n", 71,
       "reading number of subbasins:\nvalue in actual control is:   2\nbut value in storage "
       "file is: 3",
       1.5},
      {"no section: cold start", "[unsatzon_model]\n1\n", 0,
       "in snow/glacier model: [snow_model] not found in storage content file ", 1.5},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    snow_fixture f;
    auto m = build(f, true);
    const std::string path = f.cd.dir.file("state_0");
    f.cd.dir.write("state_0", r.file);
    int thrown = 0;
    try {
      m->read_state(&path, 1);
    } catch (int code) {
      thrown = code;
    }
    EXPECT_EQ(thrown, r.status);
    EXPECT_NE(f.console().find(r.message), std::string::npos) << f.console();
    EXPECT_EQ(m->glacier_outflows(0)[1], r.ice1);
    if (r.status == 0 && r.ice1 != 1.5) {
      EXPECT_EQ(m->glacier_outflows(2)[2], 6);
    }
  }
}

TEST(SnowState, WrittenSectionReadsBackRoundedToSixDecimals) {
  snow_fixture f;
  auto m = build(f, true);
  const std::string path = f.cd.dir.file("state_0");
  m->glacier_outflows(0)[1] = 1.23456789;
  m->glacier_outflows(2)[2] = 2.0 / 3;
  m->read_state(&path, 0);  // keeps the name, reads nothing
  m->write_state(false);
  m->glacier_outflows(0)[1] = 0;
  m->glacier_outflows(2)[2] = 0;
  m->read_state(&path, 1);
  EXPECT_EQ(m->glacier_outflows(0)[1], 1.234568);
  EXPECT_EQ(m->glacier_outflows(2)[2], 0.666667);
  EXPECT_EQ(m->glacier_outflows(1)[2], 0);
}

TEST(SnowState, ReadgridTwoAndFourNeitherReadNorWrite) {
  for (int readgrid : {2, 4}) {
    SCOPED_TRACE(readgrid);
    snow_fixture f;
    auto m = build(f, true);
    const std::string path = f.cd.dir.file("state_0");
    f.cd.dir.write("state_0", "[snow_model]\n2\n1\t9(c)\n");
    m->read_state(&path, readgrid);
    EXPECT_EQ(m->glacier_outflows(0)[1], 1.5);
    m->set_initialized(1);
    m->release();
    EXPECT_EQ(read_file(path), "[snow_model]\n2\n1\t9(c)\n");
  }
}

TEST(SnowState, MissingFileIsAColdStart) {
  snow_fixture f;
  auto m = build(f, true);
  const std::string path = f.cd.dir.file("none");
  m->read_state(&path, 1);
  EXPECT_NE(f.console().find("in snow/glacier model: error opening storage content file " + path),
            std::string::npos);
  EXPECT_NE(f.console().find("glacier model will be run with cold start initialization values"),
            std::string::npos);
  EXPECT_EQ(m->glacier_outflows(2)[1], 2.25);
}

TEST(SnowState, UnwritableFileStopsWithAnEntryAfterTheRelease) {
  snow_fixture f;
  auto m = build(f, true);
  const std::string path = f.cd.dir.file("no_folder/state_0");
  m->read_state(&path, 0);
  m->set_initialized(1);
  int thrown = 0;
  try {
    m->release();
  } catch (int code) {
    thrown = code;
  }
  EXPECT_EQ(thrown, 28);
  EXPECT_NE(f.console().find("cannot open the storage content file " + path), std::string::npos)
      << f.console();
  // The module's grids were released all the same.
  EXPECT_FALSE(f.has("snowstorage_solid"));
}

}  // namespace
