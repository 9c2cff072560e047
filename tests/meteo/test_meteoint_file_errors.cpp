// Input files that cannot be opened or read: each failure is one entry that
// names the file and the C library's reason, with the failure's own code,
// and a read that fails is never taken for the end of the data.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "meteo/precicorr.h"
#include "meteo/step_fixture.h"
#include "support/diag_xml.h"

namespace {

std::string reason(int error) { return std::string(": ") + std::strerror(error); }

const std::string STATIONS =
    station_file_text("400 520", "1000 1100", "2000 2000", "2001 1 1 0 1 2\n2001 1 1 1 3 4\n");

// Method 1 over the station file, or method 2 over the regression file.
std::string section_of(int method, const std::string& file) {
  step_section s;
  s.method = method;
  s.files = file + "\n";
  std::string text = "[temperature]\n" + s.text();
  const std::string regression_line = "$D/reg.txt name of the regression file in";
  if (method == 2)
    text.replace(text.find(regression_line), regression_line.size(),
                 file + " name of the regression file in");
  return text;
}

TEST(MeteoFileErrors, OpenAndReadFailuresNameTheReason) {
  struct row {
    const char* label;
    int method;
    const char* file;  // in the scratch directory; "folder" is a directory
    int code;
    std::string entry;  // "{file}" stands for the file's path
  };
  const row rows[] = {
      {"station file missing", 1, "absent.txt", 49, "\nerror opening {file}" + reason(ENOENT)},
      {"station file is a folder", 1, "folder", METEO_ROW_UNREADABLE,
       "read error in {file}" + reason(EISDIR)},
      {"regression file missing", 2, "absent.dat", 49,
       "\nerror opening file {file}" + reason(ENOENT)},
      {"regression file is a folder", 2, "folder", METEO_ROW_UNREADABLE,
       "read error in {file}" + reason(EISDIR)},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.label);
    step_fixture f;
    f.write("st.txt", STATIONS);
    std::filesystem::create_directory(f.path("folder"));
    f.write_control(with_dir(f, section_of(r.method, "$D/" + std::string(r.file))));
    int status = -1;
    input_ptr input = f.build("temperature", status);
    EXPECT_EQ(status, r.code) << f.console();
    std::string entry = r.entry;
    entry.replace(entry.find("{file}"), 6, f.path(r.file));
    const std::string xml = f.cd.xml();
    EXPECT_NE(xml.find(diag_line(0, escape_diag_text(entry))), std::string::npos)
        << xml;
  }
}

TEST(MeteoFileErrors, MissingControlFile) {
  // The interpolator and the precipitation correction read the same file.
  step_fixture f;
  int status = -1;
  input_ptr input = f.build("temperature", status);
  EXPECT_EQ(status, 28);
  std::vector<meteointerpol*> inputs{nullptr};
  std::vector<std::string> names{""};
  int correction_status = -1;
  auto correction = std::make_unique<precicorrclass>(correction_status, f.cd.diag.get(), &inputs,
                                                      &names, 0, &f.store, f.ctx);
  correction->release();
  EXPECT_EQ(correction_status, 28);
  const std::string entry = "error opening " + f.ctx.control_file + reason(ENOENT);
  const std::string xml = f.cd.xml();
  EXPECT_EQ(count_of(xml, diag_line(0, escape_diag_text(entry))), 2) << xml;
}

}  // namespace
