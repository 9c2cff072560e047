// The Ctrl-C menu of the time loop, driven with a pending interrupt and the
// answer on standard input, on the example basin (one step, no
// meteorological input).
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/modapuzr.h"
#include "modelbase/signals.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

// Runs in a scratch copy of the example basin and restores the working
// directory and standard input afterwards.
class ExampleRun : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path source = fs::path(VELMO_TEST_DATA).parent_path().parent_path() / "examples" /
                            "basin";
    for (const auto& item : fs::directory_iterator(source))
      if (item.is_regular_file()) fs::copy_file(item.path(), fs::path(dir.path()) / item.path().filename());
    fs::create_directories(fs::path(dir.path()) / "output");
    previous = fs::current_path();
    fs::current_path(dir.path());
  }
  void TearDown() override {
    fs::current_path(previous);
    disarm_sigint();
    if (std::freopen("/dev/null", "r", stdin) == nullptr) ADD_FAILURE() << "stdin";
  }

  // Builds the application and answers the menu with the given text.
  void answer(const std::string& text) {
    std::ofstream(dir.file("answer.txt")) << text;
    ASSERT_NE(std::freopen(dir.file("answer.txt").c_str(), "r", stdin), nullptr);
  }
  void build(ModellApplication& app) {
    std::vector<std::string> args = {"velmo", "basin.ctl"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    app.init(out.diag.get(), static_cast<int>(argv.size()), argv.data(), 1);
  }

  // A real Ctrl-C to this process while the application is registered.
  static void press_ctrl_c(ModellApplication& app) {
    register_current_application(&app);
    arm_sigint();
    std::raise(SIGINT);
  }

  scratch_dir dir;
  fs::path previous;
  captured_diag out{4};
};

TEST_F(ExampleRun, MenuChoicesDecideTheRunResult) {
  struct row {
    std::string answer;
    int result;
  };
  // 1 ends after this step with 99; 3 flushes and goes on; 0, 4 to 9 and a
  // letter go on; no answer at all (a batch run) counts as 1.
  const std::vector<row> rows = {{"1\n", 99}, {"  3\n", 0}, {"0\n", 0},
                                 {"7\n", 0},  {"x\n", 0},   {"", 99}};
  for (const row& rw : rows) {
    SCOPED_TRACE("answer '" + rw.answer + "'");
    answer(rw.answer);
    ModellApplication app;
    build(app);
    press_ctrl_c(app);
    EXPECT_EQ(app.ctrl_c_state, 1);
    EXPECT_EQ(app.run(), rw.result);
    app.ClearMemory();
    clear_current_application(&app);
  }
  EXPECT_NE(out.console().find("choose one of the above options: "), std::string::npos);
  // The menu is a console prompt only.
  EXPECT_EQ(out.xml().find("choose one of the above options"), std::string::npos);
}

TEST_F(ExampleRun, NoPendingInterruptAsksNothing) {
  answer("2\n");
  ModellApplication app;
  build(app);
  EXPECT_EQ(app.run(), 0);
  app.ClearMemory();
  EXPECT_EQ(out.console().find("Ctrl-C: cancel the model?"), std::string::npos);
}

TEST_F(ExampleRun, ChoiceTwoStopsAtOnceWith98) {
  // A forked child cannot use the parent's message-passing layer: the child
  // runs the test binary afresh.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  answer("2\n");
  EXPECT_EXIT(
      {
        ModellApplication app;
        build(app);
        press_ctrl_c(app);
        app.run();
      },
      ::testing::ExitedWithCode(98), "");
}

}  // namespace
