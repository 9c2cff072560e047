// The shared parts of the storage content file: the text of state values,
// the comparison of stored parameters, and the tracer blocks that the
// unsaturated zone and the surface routing write and read.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "modelbase/diagstream.h"
#include "submodel/storage_content_file.h"
#include "support/test_support.h"

namespace {

TEST(StorageContentFile, StateValuesReadBackBitForBitAndKeepTheShortG) {
  struct row {
    double value;
    const char* text;  // expected text, or null: only the round trip
  } rows[] = {
      {0.0, "0"},
      {120.0, "120"},
      {0.5, "0.5"},
      {1e-05, "1e-05"},
      {-2.25, "-2.25"},
      {0.1 + 0.2, "0.30000000000000004"},  // "%g": 0.3, another double
      {123456789.0, "1.23456789e+08"},     // "%g": 1.23457e+08
      {1.0 / 3.0, nullptr},
      {-7.0 / 11.0 * 1e-300, nullptr},
      {std::numeric_limits<double>::denorm_min(), nullptr},
      {std::numeric_limits<double>::max(), nullptr},
  };
  for (const row& r : rows) {
    const std::string text = state_value_text(r.value);
    SCOPED_TRACE(text);
    const double back = std::strtod(text.c_str(), nullptr);
    EXPECT_EQ(std::memcmp(&back, &r.value, sizeof back), 0);
    if (r.text != nullptr) {
      EXPECT_EQ(text, r.text);
    }
    char g[64];
    std::snprintf(g, sizeof g, "%g", r.value);
    if (std::strtod(g, nullptr) == r.value) {
      EXPECT_EQ(text, g);
    }
  }
}

TEST(StorageContentFile, StoredParametersAgreeWithinOneHundredThousandthOfTheStoredValue) {
  struct row {
    double stored, control;
    bool differs;
  } rows[] = {
      {120 * (1 + 1e-6), 120, false},
      {120 * (1 + 1e-4), 120, true},
      {1, 1 + 0.9e-5, false},
      {1, 1 + 1.5e-5, true},  // relative to the stored value
      {0, 0, false},
      {0, 1e-12, true},  // a stored 0 takes nothing but 0
      {-3, -3, false},
  };
  for (const row& r : rows)
    EXPECT_EQ(state_value_differs(r.stored, r.control), r.differs) << r.stored << " " << r.control;
}

TEST(StorageContentFile, StatePathsTakeTheDirectoryUnlessAbsoluteOrHome) {
  const std::string dir = "out/";
  const std::string bare = "out";
  EXPECT_EQ(state_file_path(&dir, "s_0"), "out/s_0");
  EXPECT_EQ(state_file_path(&bare, "s_0"), "out/s_0");
  EXPECT_EQ(state_file_path(&dir, "/abs/s_0"), "/abs/s_0");
  EXPECT_EQ(state_file_path(&dir, "~/s_0"), "~/s_0");
  EXPECT_EQ(state_file_path(nullptr, "s_0"), "s_0");
}

// Queues of two subbasins with 1 and 3 zones and tracer indices 0..2, every
// value one that "%g" would change.
struct block_state {
  flow_time_queues queues;
  subbasin_flow_arrays qdd, qii;
  explicit block_state(bool filled) {
    queues.zone_counts = {0, 1, 3};
    const int tracers = 2;
    for (auto* kind : {&queues.direct, &queues.interflow}) {
      kind->assign(tracers + 1, std::vector<std::vector<zone_record>>(3));
      for (int t = 0; t <= tracers; ++t)
        for (int s = 1; s <= 2; ++s)
          (*kind)[static_cast<size_t>(t)][static_cast<size_t>(s)].assign(
              static_cast<size_t>(queues.zones_of(s)) + 1, zone_record{});
    }
    qdd = make_flow_arrays(tracers, 2);
    qii = make_flow_arrays(tracers, 2);
    if (!filled) return;
    double x = 0.1;
    auto next = [&x] { return x = x * 1.7 + 1.0 / 3.0; };
    for (auto* kind : {&queues.direct, &queues.interflow})
      for (auto& per_tracer : *kind)
        for (auto& per_subbasin : per_tracer)
          for (size_t k = 1; k < per_subbasin.size(); ++k)
            per_subbasin[k] =
                zone_record{next(), next() * 1e-9, static_cast<double>(k), next(), next()};
    for (auto* a : {&qdd, &qii})
      for (auto& per_tracer : *a)
        for (size_t s = 1; s < per_tracer.size(); ++s) per_tracer[s] = next() / 7;
  }
  tracer_block_data data() { return {&queues, &qdd, &qii, 2, 2}; }
};

std::string written_blocks(block_state& state) {
  scratch_dir dir;
  const std::string path = dir.file("blocks");
  std::FILE* f = std::fopen(path.c_str(), "w");
  std::fprintf(f, "[SurfaceRoutingModel]\n");
  write_tracer_blocks(f, state.data());
  std::fclose(f);
  return read_file(path);
}

// Reads text back into into; returns the code thrown (0 none) and keeps
// the mismatch's label, control and stored values.
struct read_result {
  int code = 0;
  std::string label;
  double control = 0, stored = 0;
  std::string console;
};
read_result read_blocks(const std::string& text, block_state& into) {
  captured_diag cd;
  cd.dir.write("blocks", text);
  std::FILE* f = std::fopen(cd.dir.file("blocks").c_str(), "r");
  read_result result;
  try {
    state_reader in(*cd.diag, f, "blocks", "SurfaceRoutingModel");
    EXPECT_TRUE(in.find_section());
    read_tracer_blocks(in, into.data(), [&](const std::string& l, double c, double s) {
      result.label = l;
      result.control = c;
      result.stored = s;
      fail_state_value(*cd.diag, l, c, s);
    });
  } catch (int code) {
    result.code = code;
  }
  std::fclose(f);
  result.console = cd.console();
  return result;
}

TEST(StorageContentFile, TracerBlocksReadBackBitForBit) {
  block_state written(true);
  const std::string text = written_blocks(written);
  block_state back(false);
  ASSERT_EQ(read_blocks(text, back).code, 0);
  for (int t = 0; t <= 2; ++t)
    for (int s = 1; s <= 2; ++s) {
      const auto ut = static_cast<size_t>(t), us = static_cast<size_t>(s);
      EXPECT_EQ(back.qdd[ut][us], written.qdd[ut][us]);
      EXPECT_EQ(back.qii[ut][us], written.qii[ut][us]);
      for (int k = 1; k <= written.queues.zones_of(s); ++k)
        for (auto kind : {&flow_time_queues::direct, &flow_time_queues::interflow}) {
          const zone_record& a = (written.queues.*kind)[ut][us][static_cast<size_t>(k)];
          const zone_record& b = (back.queues.*kind)[ut][us][static_cast<size_t>(k)];
          EXPECT_EQ(a.count, b.count);
          EXPECT_EQ(a.sum, b.sum);
          EXPECT_EQ(a.code, b.code);
          EXPECT_EQ(a.share, b.share);
          EXPECT_EQ(a.weight, b.weight);
        }
    }
  // The lines of the layout.
  EXPECT_NE(text.find("[SurfaceRoutingModel]\n0 (0=runoff, 1...9 = tracers)\n1 1 (zone 1 and "
                      "maxzeit)\n"),
            std::string::npos);
  EXPECT_NE(text.find(" (zoneFZT_QI.n/.sx/.zonenwert/.rel/.RelCellSum)\n"), std::string::npos);
  EXPECT_NE(text.find(" (QIi[2][2])\n"), std::string::npos);
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(StorageContentFile, TracerBlockReaderRefusesWhatDoesNotFit) {
  block_state written(true);
  const std::string text = written_blocks(written);
  // The first zone line of subbasin 2 and its first queue line.
  const size_t zone2 = text.find("2 3 (zone 2 and maxzeit)\n");
  const size_t queue2 = zone2 + std::string("2 3 (zone 2 and maxzeit)\n").size();
  const size_t queue2_end = text.find('\n', queue2);
  const std::string queue_line = text.substr(queue2, queue2_end - queue2);
  // The line without its last number.
  const size_t fifth = queue_line.rfind(' ', queue_line.find(" (zoneFZT") - 1);
  const std::string four_fields =
      queue_line.substr(0, fifth) + queue_line.substr(queue_line.find(" (zoneFZT"));
  // The value of QDd[1][2] replaced by text no number starts with.
  const size_t qdd = text.find(" (QDd[1][2])");
  const size_t qdd_line = text.rfind('\n', qdd) + 1;
  const std::string no_number = text.substr(0, qdd_line) + "--" + text.substr(qdd);
  struct row {
    const char* name;
    std::string text;
    const char* label;  // mismatch label, or null: the reader's own message
    double control, stored;
    const char* message;
  } rows[] = {
      {"another maxzeit", replaced(text, "2 3 (zone 2", "2 4 (zone 2"),
       "maxzeit of actual subbasin", 3, 4, "but value in storage file is: 4"},
      {"another zone", replaced(text, "2 3 (zone 2", "3 3 (zone 2"), "actual zone", 2, 3,
       "error in storage file content reading actual zone:"},
      {"tracer 1 where 0 is expected", replaced(text, "0 (0=runoff", "1 (0=runoff"),
       "actual tracers(0=runoff)", 0, 1, "value in actual control is:   0"},
      {"four fields", replaced(text, queue_line, four_fields),
       "number of fields for zonal statistics QD", 5, 4,
       "error in storage file content reading number of fields for zonal statistics QD"},
      {"truncated in the queues", text.substr(0, queue2_end), nullptr, 0, 0,
       "error reading the section [SurfaceRoutingModel] of the storage content file blocks: "
       "the file ends at line"},
      {"no number for QDd", no_number, nullptr, 0, 0,
       "error reading the section [SurfaceRoutingModel] of the storage content file blocks"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    block_state back(false);
    const read_result got = read_blocks(r.text, back);
    EXPECT_EQ(got.code, 71);
    EXPECT_NE(got.console.find(r.message), std::string::npos) << got.console;
    if (r.label == nullptr) continue;
    EXPECT_EQ(got.label, r.label);
    EXPECT_EQ(got.control, r.control);
    EXPECT_EQ(got.stored, r.stored);
  }
}

TEST(StorageContentFile, TheSectionIsTheFirstLineNamingItAndReadingGoesOnBehindIt) {
  captured_diag cd;
  cd.dir.write("s", "[routing_model]\n1\n\n[unsatzon_model]\n7 (number)\n");
  std::FILE* f = std::fopen(cd.dir.file("s").c_str(), "r");
  state_reader in(*cd.diag, f, "s", "unsatzon_model");
  ASSERT_TRUE(in.find_section());
  EXPECT_EQ(in.line(), 5);
  EXPECT_EQ(in.read_int("n"), 7);
  std::fclose(f);
  std::FILE* g = std::fopen(cd.dir.file("s").c_str(), "r");
  state_reader none(*cd.diag, g, "s", "SurfaceRoutingModel");
  EXPECT_FALSE(none.find_section());
  std::fclose(g);
}

}  // namespace
