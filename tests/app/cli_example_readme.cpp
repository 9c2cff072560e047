// The example basin run as its README says: from a copy of the example
// folder as the repository holds it (its output folder included), with the
// README's own command, and with the files where the README puts them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/cli_support.h"

namespace {

namespace fs = std::filesystem;

std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

TEST(ExampleReadme, TheCommandAsWrittenRunsAndPutsEachFileWhereItSays) {
  const fs::path example = fs::path(VELMO_EXAMPLES) / "basin";
  const std::string readme = read_text(example / "README.md");
  ASSERT_NE(readme.find("    mpirun -np 3 ../../build/velmo basin.ctl\n"), std::string::npos);

  cli_workdir dir;
  fs::copy(example, dir.path(), fs::copy_options::recursive);
  // The folder the control file writes into comes with the example; results
  // of a run made in the source folder itself are not part of it.
  ASSERT_TRUE(fs::is_directory(dir.file("output")));
  for (const auto& item : fs::directory_iterator(dir.file("output")))
    if (item.path().filename() != "README.md") fs::remove_all(item.path());
  for (const char* name : {"modell_0.log", "Velmo_Diag_0.xml", "basin.ctl.$$$"})
    fs::remove(dir.file(name));

  const run_result r = dir.run_velmo(3, {"basin.ctl"});
  ASSERT_EQ(r.status, 0) << r.output;

  // Beside the control file.
  EXPECT_TRUE(dir.exists("basin.ctl.$$$"));
  EXPECT_TRUE(dir.exists("Velmo_Diag_0.xml"));
  EXPECT_NE(dir.read("modell_0.log")
                .find("y: 8 x: 10  in ./soil_depth.asc -9999.000000 replaced by 0.750000!"),
            std::string::npos);
  EXPECT_FALSE(dir.exists("output/modell_0.log"));
  // In the output folder: every file the README names there.
  const std::vector<std::string> results = {
      "MPIRegions_0", "soil_depth.sta", "soil_depth.asc.filled", "crop_factor.asc.filled",
      "zones.$csx",   "zones.$csy",     "zones.$rca",            "zones.$cx",
      "zones.$cy",    "dem.$sl",        "dem.$ex",               "zones.$w1",
      "zones.$r2",    "zones.$w2",      "zones.$r3",             "zones.$w3"};
  for (const std::string& name : results) {
    EXPECT_NE(readme.find("`" + name + "`"), std::string::npos) << name;
    EXPECT_TRUE(dir.exists("output/" + name)) << name;
  }
}
