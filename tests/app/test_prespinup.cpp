// The temperature pre-SpinUp pass on a scripted temperature input and a
// recording unsaturated zone: the name check (code 1035), the progress
// entries at the last step of each day, the hand-over to the unsaturated
// zone and the rewind to the first record.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/modapuzr_prespinup.h"
#include "meteo/meteoint.h"
#include "modelbase/gridstore.h"
#include "soilwater/unsatzon.h"
#include "support/test_support.h"

namespace {

// The status of the base constructors, which the scripted objects replace.
int ignored_status = 0;

struct date {
  int64_t hour, day, month, year;
  bool operator==(const date&) const = default;
};

// A temperature input that steps through a list of record dates. The base
// object reports that it cannot interpolate; the script replaces that part.
class scripted_input : public meteointerpol {
 public:
  scripted_input(DiagStream* diag_stream, grid_store* grids, std::vector<date> records)
      : meteointerpol(ignored_status, diag_stream, nullptr, 0, "temperature", grids,
                      no_settings(), 1),
        dates(std::move(records)) {}
  void get_current_date(int64_t& hour, int64_t& day, int64_t& month, int64_t& year) override {
    const date& d = dates.at(static_cast<size_t>(at));
    hour = d.hour;
    day = d.day;
    month = d.month;
    year = d.year;
  }
  void interpolate(int64_t hour, int64_t day, int64_t month, int64_t year) override {
    interpolated.push_back({hour, day, month, year});
  }
  void output_result_grid() override { ++outputs; }
  void read_next_record() override { ++at; }
  int is_end_of_data() override { return at >= last_record ? 1 : 0; }
  void end_at_current_date() override { last_record = at; }
  void rewind_inputs() override { at = -1; }

  std::vector<date> dates;
  int64_t at = 0;  // the current record
  int64_t last_record = 0;
  std::vector<date> interpolated;
  int outputs = 0;
};

// The unsaturated zone's pre-SpinUp operations, recorded.
class recording_unsat : public unsatzonmodellklasse {
 public:
  recording_unsat(DiagStream* diag_stream, grid_store* grids)
      : unsatzonmodellklasse(ignored_status, diag_stream, nullptr, 0, "unsatzon_model", grids,
                             no_settings(), 1) {}
  void pre_spinup_step(int64_t hour, int64_t day, int64_t month, int64_t year) override {
    steps.push_back({hour, day, month, year});
    finished_before_step = finished_before_step || finished;
  }
  void finish_pre_spinup() override { ++finished; }
  std::vector<date> steps;
  int finished = 0;
  bool finished_before_step = false;
};

std::vector<date> hourly(int days) {
  std::vector<date> d;
  for (int day = 1; day <= days; ++day)
    for (int h = 0; h < 24; ++h) d.push_back({h, day, 1, 2001});
  return d;
}

std::vector<date> daily(int days, int64_t hour) {
  std::vector<date> d;
  for (int day = 1; day <= days; ++day) d.push_back({hour, day, 3, 2001});
  return d;
}

struct pass_run {
  pass_run(std::vector<date> records, double shift,
           std::vector<std::string> names = {"", "temperature"})
      : input(cap.diag.get(), &store, std::move(records)),
        unsat(cap.diag.get(), &store),
        meteo_names(std::move(names)) {
    input.last_record = static_cast<int64_t>(input.dates.size());
    parts.diag = cap.diag.get();
    parts.meteo_names = &meteo_names;
    parts.meteo_count = static_cast<int>(meteo_names.size()) - 1;
    parts.first_input = &input;
    parts.unsat = &unsat;
    parts.min_to_int_end = shift;
    parts.agree_on_ctrl_c = [this] { ++agreements; };
  }
  int run() {
    try {
      temperature_pre_spinup(parts, end_of_run);
    } catch (int c) {
      return c;
    }
    return 0;
  }
  int count(const std::string& text) const {
    const std::string console = cap.console();
    const std::string entry = ") " + text + "\n(mpi-rank";
    int n = 0;
    for (size_t at = console.find(entry); at != std::string::npos; at = console.find(entry, at + 1))
      ++n;
    return n;
  }
  captured_diag cap;
  grid_store store;
  scripted_input input;
  recording_unsat unsat;
  std::vector<std::string> meteo_names;
  pre_spinup_parts parts;
  int16_t end_of_run = 0;
  int agreements = 0;
};

const std::string INFO_TEXT =
    "pre-SpinUp reached end of defined time range. Soil-temperatures are going to be set now.";

TEST(TemperaturePreSpinUp, FirstInputMustBeTemperature) {
  const std::vector<std::vector<std::string>> name_lists = {
      {""}, {"", "precipitation", "temperature"}, {"", "Temperature"}};
  for (const auto& names : name_lists) {
    SCOPED_TRACE(names.size() > 1 ? names[1] : "no input");
    pass_run r(hourly(1), 60, names);
    EXPECT_EQ(r.run(), 1035);
    EXPECT_EQ(r.count("temperature interpolation not found. This is required for pre-SpinUp! "
                      "(no regions should be used for pre-SpinUp)"),
              1);
    EXPECT_TRUE(r.unsat.steps.empty());
    EXPECT_EQ(r.count(INFO_TEXT), 0);
  }
}

TEST(TemperaturePreSpinUp, ProgressAtTheLastStepOfEachDay) {
  struct row {
    std::string name;
    std::vector<date> records;
    double shift;  // [min]
    std::vector<std::string> progress;
  };
  // An entry stands where hour + shift / 60 is exactly 24.
  const std::vector<row> rows = {
      {"hourly, shift 60 min: hour 23 of each day",
       hourly(2),
       60,
       {"temperature pre-SpinUp 1.1.2001 23. h ", "temperature pre-SpinUp 2.1.2001 23. h "}},
      {"hourly, no shift: never 24", hourly(2), 0, {}},
      {"daily at hour 0, shift 1440 min: every step",
       daily(3, 0),
       1440,
       {"temperature pre-SpinUp 1.3.2001 0. h ", "temperature pre-SpinUp 2.3.2001 0. h ",
        "temperature pre-SpinUp 3.3.2001 0. h "}},
      {"daily at hour 12, no shift", daily(3, 12), 0, {}},
  };
  for (const row& rw : rows) {
    SCOPED_TRACE(rw.name);
    pass_run r(rw.records, rw.shift);
    ASSERT_EQ(r.run(), 0) << r.cap.console();
    for (const std::string& text : rw.progress) EXPECT_EQ(r.count(text), 1) << text;
    // No other progress entry.
    const std::string console = r.cap.console();
    int written = 0;
    for (size_t at = console.find("temperature pre-SpinUp "); at != std::string::npos;
         at = console.find("temperature pre-SpinUp ", at + 1))
      ++written;
    EXPECT_EQ(written, static_cast<int>(rw.progress.size())) << console;

    // Every record went to the input and the unsaturated zone, in order,
    // one Ctrl-C agreement per step; the profiles are set once at the end.
    EXPECT_EQ(r.input.interpolated, rw.records);
    EXPECT_EQ(r.unsat.steps, rw.records);
    EXPECT_EQ(r.input.outputs, static_cast<int>(rw.records.size()));
    EXPECT_EQ(r.agreements, static_cast<int>(rw.records.size()));
    EXPECT_EQ(r.unsat.finished, 1);
    EXPECT_FALSE(r.unsat.finished_before_step);
    EXPECT_EQ(r.count(INFO_TEXT), 1);
    // The main run starts at the first record again, with the flag clear.
    EXPECT_EQ(r.input.at, 0);
    EXPECT_EQ(r.end_of_run, 0);
  }
}

TEST(TemperaturePreSpinUp, CtrlCChoiceOneEndsThePassAfterThatStep) {
  pass_run r(hourly(1), 60);
  // Choice 1 at the third agreement: every input ends at its current record.
  r.parts.agree_on_ctrl_c = [&r] {
    if (++r.agreements == 3) r.input.end_at_current_date();
  };
  ASSERT_EQ(r.run(), 0);
  EXPECT_EQ(r.unsat.steps.size(), 3U);
  EXPECT_EQ(r.unsat.finished, 1);
  EXPECT_EQ(r.input.at, 0);
}

TEST(TemperaturePreSpinUp, ErrorsOfTheUnsaturatedZonePassUnchanged) {
  // The module without its heat-transfer model refuses the pre-SpinUp.
  captured_diag cap;
  grid_store store;
  scripted_input input(cap.diag.get(), &store, hourly(1));
  input.last_record = 24;
  int status = 0;
  unsatzonmodellklasse unsat(status, cap.diag.get(), nullptr, 0, "unsatzon_model", &store,
                             no_settings(), 1);
  const std::vector<std::string> names = {"", "temperature"};
  pre_spinup_parts parts;
  parts.diag = cap.diag.get();
  parts.meteo_names = &names;
  parts.meteo_count = 1;
  parts.first_input = &input;
  parts.unsat = &unsat;
  int16_t end_of_run = 0;
  int code = 0;
  try {
    temperature_pre_spinup(parts, end_of_run);
  } catch (int c) {
    code = c;
  }
  EXPECT_EQ(code, 1040);
  EXPECT_NE(cap.console().find("heat transfer model not active in unsatzon_model"),
            std::string::npos);
}

}  // namespace
