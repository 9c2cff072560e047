// The unsaturated zone's section of the storage content file and its end of
// run, on the set-up fixture's row of three cells (one subbasin, code 1):
// the section a run writes, what a run with readgrid 1 takes from it and
// refuses, the control-cell row writer, and the soil-water report at model
// end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "soilwater/unsatzon_setup_fixture.h"

namespace {

using namespace unsatzon_setup;

int init(setup_run& run) {
  int status = -1;
  run.module->init_tracers(status, 0, nullptr, nullptr, 0);
  return status;
}

// The section that a run with readgrid 0 and the fixture's values writes.
std::string written_section() {
  setup_run run({});
  EXPECT_EQ(run.status, 0) << run.f.console();
  EXPECT_EQ(init(run), 0) << run.f.console();
  run.module->write_state(0);
  EXPECT_TRUE(run.module->storage_section_written());
  return read_file(run.f.cd.dir.file("state.txt_0"));
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(UnsatzonStateFile, TheSectionLinesInTheirOrder) {
  const std::string text = written_section();
  // kelsqd 2 h and kelsqi 3 h in minutes; kelsqlat is kept as its reciprocal.
  const std::string head =
      "[unsatzon_model]\n1 (number of subasins)\n1\t(code)\n120 (kelsqd in min)\n"
      "180 (kelsqi in min)\n0.5 (drainage density)\n0.25 (inverse recession constant for "
      "baseflow [needed when using no groundwater model])\n1 (max. baseflow [needed when using no "
      "groundwater model])\n0.1 (surface runoff fraction of snowmelt)\n0 (number of tracers)\n"
      "0 (0=runoff, 1...9 = tracers)\n1 1 (zone 1 and maxzeit)\n";
  EXPECT_EQ(text.substr(0, head.size()), head);
  EXPECT_NE(text.find(" (zoneFZT_QD.n/.sx/.zonenwert/.rel/.RelCellSum)\n"), std::string::npos);
  const std::string tail = "0 (QDd[0][1])\n0 (QIi[0][1])\n\n";
  ASSERT_GE(text.size(), tail.size());
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

TEST(UnsatzonStateFile, ReadgridOneTakesTheStoredQueuesAndStorages) {
  const std::string text =
      replaced(replaced(written_section(), "0 (QDd[0][1])", "0.30000000000000004 (QDd[0][1])"),
               "0 (QIi[0][1])", "1.2345678901234567e-300 (QIi[0][1])");
  setup_run run({.readgrid = "1", .stack_levels = L});
  ASSERT_EQ(run.status, 0) << run.f.console();
  run.f.cd.dir.write("state.txt_0", text);
  ASSERT_EQ(init(run), 0) << run.f.console();
  EXPECT_EQ(run.module->get_qdd()[0][1], 0.1 + 0.2);
  EXPECT_EQ(run.module->get_qii()[0][1], 1.2345678901234567e-300);
  const zone_record& z = run.module->get_zone_queues().direct[0][1][1];
  EXPECT_EQ(z.share, 1);
  EXPECT_EQ(count_of(run.f.console(), "storage content file"), 0) << run.f.console();
}

TEST(UnsatzonStateFile, OnlyReadgridOneReadsTheSection) {
  // Readgrid 3 takes the soil grids from files but not this section (the
  // routing modules read theirs); there is no storage content file here.
  setup_run run({.readgrid = "3", .stack_levels = L});
  ASSERT_EQ(run.status, 0) << run.f.console();
  ASSERT_EQ(init(run), 0) << run.f.console();
  EXPECT_EQ(count_of(run.f.console(), "storage content file"), 0) << run.f.console();
}

TEST(UnsatzonStateFile, AFileOfARankBeyondTheRunIsNamed) {
  const std::string text = written_section();
  setup_run run({.readgrid = "1", .stack_levels = L});
  ASSERT_EQ(run.status, 0) << run.f.console();
  run.f.cd.dir.write("state.txt_0", text);
  run.f.cd.dir.write("state.txt_1", text);  // written by a run of two processes
  ASSERT_EQ(init(run), 0) << run.f.console();
  EXPECT_EQ(count_of(run.f.console(),
                     "the storage content file state.txt_1 exists, but this run has only 1 "
                     "processes: the section [unsatzon_model] of that file and of any further "
                     "process is not read"),
            1)
      << run.f.console();
}

TEST(UnsatzonStateFile, ReadgridOneRefusesAStateThatDoesNotFit) {
  const std::string text = written_section();
  const size_t zone_line = text.find(" (zoneFZT_QD");
  const size_t line_start = text.rfind('\n', zone_line) + 1;
  const std::string four_fields = text.substr(0, line_start) + "1 0 1 1" + text.substr(zone_line);
  struct row {
    const char* name;
    std::string text;  // empty: no file
    int status;
    const char* message;
  } rows[] = {
      {"kelsqd 1e-6 relative off passes", replaced(text, "120 (kelsqd", "120.00012 (kelsqd"), 0,
       ""},
      {"kelsqd 1e-4 relative off", replaced(text, "120 (kelsqd", "120.012 (kelsqd"), 71,
       "error in storage file content reading m:\nvalue in actual control is:   120\nbut value "
       "in storage file is: 120.012\nVelmo throws..."},
      {"a stored 0 for a value that is not 0", replaced(text, "0.5 (drainage", "0 (drainage"), 71,
       "error in storage file content reading flussdichte:"},
      {"another subbasin count", replaced(text, "1 (number of subasins)", "2 (number of subasins)"),
       71, "error in storage file content reading number of subbasins:"},
      {"another code", replaced(text, "1\t(code)", "7\t(code)"), 71,
       "error in storage file content reading subbasin code:"},
      {"another tracer count", replaced(text, "0 (number of tracers)", "1 (number of tracers)"), 71,
       "error in storage file content reading number of tracers:"},
      {"another maxzeit", replaced(text, "1 1 (zone 1", "1 2 (zone 1"), 71,
       "error in storage file content reading maxzeit of actual subbasin:"},
      {"four fields", four_fields, 71,
       "number of fields for zonal statistics QD:\nvalue in actual control is:   5\nbut value in "
       "storage file is: 4"},
      {"truncated", text.substr(0, text.find("(QDd[0][1])")), 71,
       "error reading the section [unsatzon_model] of the storage content file state.txt_0: the "
       "file ends at line"},
      {"no section", "[routing_model]\n\n", 71,
       "error locking for the section [unsatzon_model] in state.txt_0"},
      {"no file", "", 64, "error opening storage content file state.txt_0"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    setup_run run({.readgrid = "1", .stack_levels = L});
    ASSERT_EQ(run.status, 0) << run.f.console();
    if (!r.text.empty()) run.f.cd.dir.write("state.txt_0", r.text);
    EXPECT_EQ(init(run), r.status) << run.f.console();
    EXPECT_NE(run.f.console().find(r.message), std::string::npos) << run.f.console();
  }
}

TEST(UnsatzonStateFile, AppendsBehindAnEarlierSectionAndWarnsWhenTheFileCannotBeOpened) {
  setup_run run({});
  ASSERT_EQ(run.status, 0) << run.f.console();
  ASSERT_EQ(init(run), 0) << run.f.console();
  run.f.cd.dir.write("state.txt_0", "[routing_model]\n\n\n\n");
  run.module->write_state(1);
  const std::string text = read_file(run.f.cd.dir.file("state.txt_0"));
  EXPECT_EQ(text.rfind("[routing_model]\n\n\n\n[unsatzon_model]\n", 0), 0U) << text;

  setup_run blocked({});
  ASSERT_EQ(blocked.status, 0) << blocked.f.console();
  ASSERT_EQ(init(blocked), 0) << blocked.f.console();
  // A directory of that name: the file cannot be opened for writing.
  std::filesystem::create_directory(blocked.f.cd.dir.file("state.txt_0"));
  EXPECT_NO_THROW(blocked.module->write_state(0));
  EXPECT_FALSE(blocked.module->storage_section_written());
  EXPECT_NE(blocked.f.console().find("the storage content file state.txt_0 could not be opened: "
                                     "the section [unsatzon_model] is not written"),
            std::string::npos)
      << blocked.f.console();
}

TEST(UnsatzonEndRun, ControlCellRowsAreWrittenOnceWithTheirRange) {
  setup_run run({});
  ASSERT_EQ(run.status, 0) << run.f.console();
  const int layers = run.module->get_layer_count();
  struct row {
    const char* name;
    int first, last;  // value range; last 0: the layer count
    int values;       // per line
  } rows[] = {{"etr", 0, 0, layers + 1}, {"theta", 1, 0, layers}, {"otherdata", 1, 24, 24}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    control_cell_buffer b;
    b.values_per_row = 25;
    b.capacity = 3;
    b.dates.resize(4);
    b.values.assign(4 * 25, 0.0);
    b.file_name = run.f.cd.dir.file(std::string(r.name) + ".txt");
    b.first_value = r.first;
    b.last_value = r.last;
    for (int k = 1; k <= 2; ++k) {
      ++b.fill;
      b.dates[static_cast<size_t>(k)] = model_date{2001, 2, 3, k};
      for (int v = 0; v < 25; ++v) b.values[static_cast<size_t>(k * 25 + v)] = k + 0.5 * v;
    }
    run.module->write_control_cell_rows_of(b);
    run.module->write_control_cell_rows_of(b);  // nothing left: writes nothing
    EXPECT_EQ(b.fill, 0);
    const std::string text = read_file(b.file_name);
    std::string expected;
    for (int k = 1; k <= 2; ++k) {
      expected += "2001\t2\t3\t" + std::to_string(k);
      for (int v = r.first; v < r.first + r.values; ++v) {
        char value[32];
        std::snprintf(value, sizeof value, "\t%g", k + 0.5 * v);
        expected += value;
      }
      expected += "\n";
    }
    EXPECT_EQ(text, expected);
    EXPECT_EQ(count_of(run.f.console(), "write " + b.file_name), 1);
    EXPECT_NE(run.f.console().find("(" + std::to_string((8 * layers + 32) * 2) +
                                   " of 2097152 buffer-bytes)"),
              std::string::npos)
        << run.f.console();
  }
  control_cell_buffer nowhere;
  nowhere.values_per_row = 2;
  nowhere.capacity = 1;
  nowhere.fill = 1;
  nowhere.dates.resize(2);
  nowhere.values.assign(4, 0.0);
  nowhere.file_name = run.f.cd.dir.file("no/such/dir/file.txt");
  int code = 0;
  try {
    run.module->write_control_cell_rows_of(nowhere);
  } catch (int c) {
    code = c;
  }
  EXPECT_EQ(code, 65);
  EXPECT_NE(run.f.console().find("error opening file " + nowhere.file_name), std::string::npos);
}

TEST(UnsatzonEndRun, EndOfRunWritesTheStateAndTheSoilWaterReport) {
  struct row {
    const char* name;
    int initialised;
    bool section;  // the state section written
  } rows[] = {{"initialised", 1, true}, {"set-up not finished", 0, false}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    setup_run run({.control_cell = "1 2"});
    ASSERT_EQ(run.status, 0) << run.f.console();
    ASSERT_EQ(init(run), 0) << run.f.console();
    run.module->set_initialized(r.initialised);
    run.module->flush_outputs();
    run.module->flush_outputs();
    run.module->end_run(0);
    EXPECT_EQ(std::filesystem::exists(run.f.cd.dir.file("state.txt_0")), r.section);
    const std::string log = read_file(run.f.cd.dir.file("modell_0.log"));
    if (!r.section) {
      EXPECT_EQ(log.find("model-end"), std::string::npos);
      continue;
    }
    // No glaciers: the glacierized mean is 0 and the mean of all cells that
    // of the others; nothing moved, so the end equals the start.
    auto value_after = [&log](const std::string& label) {
      const size_t at = log.find(label);
      EXPECT_NE(at, std::string::npos) << label << "\n" << log;
      return at == std::string::npos ? -1.0 : std::stod(log.substr(at + label.size()));
    };
    const double all_end = value_after("mean soil water content for all cells at model-end: ");
    const double free_end = value_after(
        "mean soil water content for unglacierized or only partly unglacierized cells at "
        "model-end: ");
    const double glacier_end = value_after(
        "mean soil water content for partly or completely glacierized cells at model-end: ");
    const double all_start = value_after("mean soil water content for all cells at model-start: ");
    EXPECT_EQ(glacier_end, 0);
    EXPECT_EQ(all_end, free_end);
    EXPECT_GT(all_end, 0);
    EXPECT_EQ(all_end, all_start);
    EXPECT_NE(log.find("(mpi_rank 0) soil water content (control point r=1 c=2) at model-end: "),
              std::string::npos)
        << log;
  }
}

}  // namespace
