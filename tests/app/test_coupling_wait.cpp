// The application's side of a coupling: the busy wait, the wait for the
// partner's file with its Ctrl-C menu, and the semaphore file for the
// partner, on an application built from the example basin.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/modapuzr.h"
#include "modelbase/signals.h"
#include "support/diag_xml.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

const char* const TEMPORARY = "Velmo_Orv_temporary_semaphore.file";

class CouplingWait : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path source =
        fs::path(VELMO_TEST_DATA).parent_path().parent_path() / "examples" / "basin";
    for (const auto& item : fs::directory_iterator(source))
      if (item.is_regular_file())
        fs::copy_file(item.path(), fs::path(dir.path()) / item.path().filename());
    fs::create_directories(fs::path(dir.path()) / "output");
    dir.write("MpiSpeedFactor.dat", "1\n");  // no benchmark at set-up
    previous = fs::current_path();
    fs::current_path(dir.path());
    std::vector<std::string> args = {"velmo", "basin.ctl"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    app.init(out.diag.get(), static_cast<int>(argv.size()), argv.data(), 1);
  }
  void TearDown() override {
    app.ClearMemory();
    fs::current_path(previous);
    disarm_sigint();
    if (std::freopen("/dev/null", "r", stdin) == nullptr) ADD_FAILURE() << "stdin";
  }
  void answer(const std::string& text) {
    std::ofstream(dir.file("answer.txt")) << text;
    ASSERT_NE(std::freopen(dir.file("answer.txt").c_str(), "r", stdin), nullptr);
  }
  static int count_of(const std::string& text, const std::string& piece) {
    int n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
    return n;
  }

  scratch_dir dir;
  fs::path previous;
  captured_diag out{4};
  ModellApplication app;
};

const std::string MENU = "Ctrl-C pressed while waiting for partner.sem";

}  // namespace

TEST_F(CouplingWait, BusyWaitLastsTheGivenClockTicks) {
  const std::clock_t before = std::clock();
  app.Wait(20000);
  EXPECT_GE(std::clock() - before, 20000);
}

TEST_F(CouplingWait, FileThatIsThereIsFoundAtOnceAndLeftInPlace) {
  dir.write("partner.sem", "go");
  EXPECT_EQ(app.WaitForFile("partner.sem", 100), 1);
  EXPECT_TRUE(fs::exists(dir.file("partner.sem")));
  EXPECT_NE(
      out.console().find("waiting for external synchronisation file partner.sem...found it! "),
      std::string::npos)
      << out.console();
}

TEST_F(CouplingWait, CtrlCWhileWaitingAsksOnceAndKeepsTheAnswerForTheTimeLoop) {
  struct row {
    std::string answer;
    int state;  // afterwards, for the time loop's agreement
  };
  // 0, 1 and 3 stay; 4 to 9 and a letter count as 0. Asked once even when
  // the state stays set: the file appears only after the answer.
  const std::vector<row> rows = {{"0\n", 0}, {"1\n", 1}, {" 3\n", 3}, {"7\n", 0}, {"x\n", 0}};
  for (const row& r : rows) {
    SCOPED_TRACE("answer '" + r.answer + "'");
    answer(r.answer);
    fs::remove(dir.file("partner.sem"));
    const size_t console_before = out.console().size();
    app.ctrl_c_state = 1;
    std::thread partner([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      std::ofstream(dir.file("partner.sem.tmp")) << "go";
      fs::rename(dir.file("partner.sem.tmp"), dir.file("partner.sem"));
    });
    EXPECT_EQ(app.WaitForFile("partner.sem", 1000), 1);
    partner.join();
    EXPECT_EQ(app.ctrl_c_state, r.state);
    EXPECT_EQ(count_of(out.console().substr(console_before), MENU), 1);
    app.ctrl_c_state = 0;
  }
}

TEST_F(CouplingWait, ChoiceTwoOrNoAnswerCancelsWith98) {
  for (const std::string& text : {std::string("2\n"), std::string()}) {
    SCOPED_TRACE("answer '" + text + "'");
    answer(text);
    app.ctrl_c_state = 1;
    try {
      app.WaitForFile("partner.sem", 100);
      ADD_FAILURE() << "no exception";
    } catch (int code) {
      EXPECT_EQ(code, 98);
    }
  }
  const std::string xml = out.xml();
  EXPECT_NE(xml.find(diag_line(0, "Exception in Modellapplication::WaitForFile() caught!")),
            std::string::npos)
      << xml;
}

TEST_F(CouplingWait, SemaphoreFileAppearsCompleteUnderItsName) {
  struct row {
    std::string content;
    bool target_there_before;
  };
  const std::vector<row> rows = {{"ready 42", false}, {"", false}, {"next", true}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.content);
    if (r.target_there_before) dir.write("velmo.sem", "an old and longer content");
    app.WriteSemaphoreFile("velmo.sem", r.content);
    EXPECT_EQ(read_file(dir.file("velmo.sem")), r.content);  // no line end added
    EXPECT_FALSE(fs::exists(dir.file(TEMPORARY)));
  }
}

TEST_F(CouplingWait, SemaphoreThatCannotBeWrittenIsWriteError18) {
  struct row {
    const char* name;
    std::string target;
    bool block_temporary;  // a folder where the temporary file should go
    std::string entry;
  };
  const std::vector<row> rows = {
      {"rename into no folder", "none/velmo.sem", false,
       "write error Velmo_Orv_temporary_semaphore.file: " + std::string(std::strerror(ENOENT)) +
           " ! (" + std::to_string(ENOENT) +
           ")\nthe semaphore file for the external model could not be renamed to none/velmo.sem"},
      {"temporary file cannot be opened", "velmo.sem", true,
       "write error Velmo_Orv_temporary_semaphore.file: " + std::string(std::strerror(EISDIR)) +
           " ! (" + std::to_string(EISDIR) +
           ")\nthe semaphore file for the external model could not be opened for velmo.sem"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    if (r.block_temporary) fs::create_directory(dir.file(TEMPORARY));
    try {
      app.WriteSemaphoreFile(r.target, "x");
      ADD_FAILURE() << "no exception";
    } catch (int code) {
      EXPECT_EQ(code, 18);
    }
    EXPECT_FALSE(fs::exists(dir.file("velmo.sem")));
    if (r.block_temporary)
      fs::remove(dir.file(TEMPORARY));
    else
      EXPECT_FALSE(fs::exists(dir.file(TEMPORARY)));  // no half-written semaphore left
  }
  const std::string xml = out.xml();
  for (const row& r : rows)
    EXPECT_NE(xml.find(diag_line(0, escape_diag_text(r.entry))), std::string::npos) << xml;
}
