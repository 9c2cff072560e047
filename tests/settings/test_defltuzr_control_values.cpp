// Control-file values that the settings object must refuse rather than run
// on: model-time years outside 1 to 9999 (their time keys would leave the
// 64-bit range), and a section header standing where a value should be.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "modelbase/gridstore.h"
#include "settings/defltuzr.h"
#include "support/diag_xml.h"
#include "support/test_support.h"

namespace {

struct values_fixture {
  explicit values_fixture(const std::string& text) {
    cap.dir.write("run.ctl", text);
    settings = std::make_unique<defaultini>(status, cap.diag.get(), cap.dir.file("run.ctl"),
                                            nullptr, 0, 2, &store);
  }
  static int code_of(const std::function<void()>& f) {
    try {
      f();
    } catch (int code) {
      return code;
    }
    return 0;
  }
  int read_model_time() {
    EXPECT_TRUE(settings->open_control_file());
    return code_of([this] { settings->read_model_time(); });
  }
  int read_base() {
    return code_of([this] { settings->read_base_settings(cap.dir.file("run.ctl")); });
  }
  // The line elements of the diagnostics file (closes the stream).
  std::vector<std::string> elements() {
    std::string why;
    const auto lines = diag_xml_lines(cap.xml(), &why);
    EXPECT_FALSE(lines.empty()) << why;
    if (lines.empty()) return {};
    return {lines.begin() + 1, lines.end() - 1};
  }
  std::vector<std::string> fatal_elements() {
    std::vector<std::string> fatal;
    for (const std::string& e : elements())
      if (e.starts_with("\t<line level=\"0\"")) fatal.push_back(e);
    return fatal;
  }
  captured_diag cap;
  grid_store store;
  unsigned status = 99;
  std::unique_ptr<defaultini> settings;
};

std::string model_time(const std::string& start_year, const std::string& end_year) {
  return "[model_time]\n0\n1\n1\n" + start_year + "\n23\n31\n12\n" + end_year + "\n";
}

}  // namespace

TEST(DefaultiniModelTime, YearsOutsideOneTo9999AfterTheCenturyAreCode17) {
  struct row {
    const char* name;
    std::string start_year, end_year;
    int64_t start, end;   // the years kept when accepted
    std::string failing;  // the key text of the refused year, "" when accepted
  };
  const std::vector<row> rows = {
      {"first and last year", "1000", "9999", 1000, 9999, ""},
      // 1900 is added to every year up to 999, negative ones too.
      {"lowest year reached through the century", "-1899", "99", 1, 1999, ""},
      {"year 0 after the century", "-1900", "2001", 0, 0, "starting year in "},
      {"end year 10000", "2000", "10000", 0, 0, "end year in "},
      // Years whose time keys overflowed: 9e18 * 93000.
      {"largest 64-bit start year", "9223372036854775807", "2001", 0, 0, "starting year in "},
      {"smallest 64-bit end year", "2000", "-9223372036854775808", 0, 0, "end year in "},
      {"both wrong: the start year is named", "-5000", "20000", 0, 0, "starting year in "},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    values_fixture f(model_time(r.start_year, r.end_year));
    const int code = f.read_model_time();
    if (r.failing.empty()) {
      ASSERT_EQ(code, 0);
      EXPECT_EQ(f.settings->start_year_value(), r.start);
      const settings_context& exported = f.settings->export_settings();
      EXPECT_EQ(exported.end_date.year, r.end);
      continue;
    }
    EXPECT_EQ(code, 17);
    EXPECT_EQ(f.fatal_elements(),
              std::vector<std::string>{diag_line(
                  0, "error in control file, " + r.failing +
                         "; [model_time] (a year from 1 to 9999) not found!")});
  }
}

TEST(DefaultiniOutputSettings, MeteorologicalNamesNeverComeFromTheNextSection) {
  // "[meteo_data_count]" 3 with fewer names: the next section's header was
  // taken as the name of an input.
  const std::string head =
      "[output_interval]\n1\n0\n0\n0\n\n[output_list]\n0\n[coordinates]\n1\n2\n3\n4\n"
      "[meteo_data_count]\n3\n[meteo_names]\ntemperature\n";
  struct row {
    const char* name;
    std::string rest;
    std::vector<std::string> elements;  // after the settings' own entries
  };
  const std::string next_line = "--&gt; In .;  Next line in Velmo control file: ";
  const std::vector<row> rows = {
      {"next section header", "[zone_grid]\nzones.asc\n",
       {diag_line(4, next_line), diag_line(4, "[zone_grid]"),
        diag_line(0, "error in control file, name of meteorological variable 2 in ; "
                     "[meteo_names]not found!")}},
      {"indented header after a blank line", "precipitation\n\n   [zone_grid]\n",
       {diag_line(4, next_line), diag_line(4, "[zone_grid]"),
        diag_line(0, "error in control file, name of meteorological variable 3 in ; "
                     "[meteo_names]not found!")}},
      {"end of the file", "precipitation\n",
       {diag_line(4, next_line), diag_line(4, ""),
        diag_line(0, "error in control file, name of meteorological variable 3 in ; "
                     "defaultsnot found!")}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    values_fixture f(head + r.rest);
    EXPECT_EQ(f.read_base(), 17);
    const std::vector<std::string> all = f.elements();
    ASSERT_GE(all.size(), r.elements.size());
    EXPECT_EQ(std::vector<std::string>(all.end() - static_cast<long>(r.elements.size()), all.end()),
              r.elements);
  }

  // A name that merely contains "[" further on in its line is still a name.
  values_fixture f(head + "precipitation [mm]\nradiation\n");
  ASSERT_EQ(f.read_base(), 0) << f.cap.console();
  EXPECT_EQ(f.settings->output_settings().meteo_names,
            (std::vector<std::string>{"", "temperature", "precipitation", "radiation"}));
}
