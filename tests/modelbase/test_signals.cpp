// Ctrl-C and floating-point-error handlers: flags set once, one note each,
// the disposition convention of file operations, and the end of a process on
// a genuine arithmetic fault.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cfenv>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "app/modapuzr.h"
#include "modelbase/signals.h"
#include "support/test_support.h"

namespace {

// Collects what is written to file descriptor 1 (the handlers use write(2)).
class stdout_capture {
 public:
  stdout_capture() : file_(std::tmpfile()) {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    dup2(fileno(file_), STDOUT_FILENO);
  }
  ~stdout_capture() {
    restore();
    std::fclose(file_);
  }
  std::string text() {
    restore();
    std::string out;
    std::rewind(file_);
    for (int c = std::fgetc(file_); c != EOF; c = std::fgetc(file_))
      out.push_back(static_cast<char>(c));
    return out;
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    saved_ = -1;
  }
  std::FILE* file_;
  int saved_ = -1;
};

void (*sigint_disposition())(int) {
  struct sigaction current {};
  sigaction(SIGINT, nullptr, &current);
  return current.sa_handler;
}

// Every test leaves the process as it found it: default Ctrl-C, no
// application, no pending marks.
class Signals : public ::testing::Test {
 protected:
  void TearDown() override {
    disarm_sigint();
    clear_current_application(&app);
    process_interrupt_pending = 0;
    process_fpe_pending = 0;
  }
  ModellApplication app;
};

TEST_F(Signals, TwoCtrlCBeforeTheAgreementGiveOneNote) {
  register_current_application(&app);
  arm_sigint();
  stdout_capture out;
  std::raise(SIGINT);
  EXPECT_EQ(sigint_disposition(), SIG_IGN);  // a second press is not even delivered
  std::raise(SIGINT);
  arm_sigint();  // as after a file writer: the handler is back, the state still pending
  std::raise(SIGINT);
  EXPECT_EQ(out.text(), "\nCntr-C pressed! please wait...\n\n");
  EXPECT_EQ(app.ctrl_c_state, 1);
}

TEST_F(Signals, CtrlCWithoutApplicationOnlyMarksTheProcess) {
  arm_sigint();
  stdout_capture out;
  std::raise(SIGINT);
  EXPECT_EQ(out.text(), "\nCntr-C pressed! please wait...\n\n");
  EXPECT_EQ(process_interrupt_pending, 1);
  EXPECT_EQ(app.ctrl_c_state, 0);
  // The next application takes the mark over as its pending interrupt.
  register_current_application(&app);
  EXPECT_EQ(app.ctrl_c_state, 1);
  EXPECT_EQ(process_interrupt_pending, 0);
}

TEST_F(Signals, DeletedApplicationIsNoLongerReached) {
  {
    ModellApplication gone;
    register_current_application(&gone);
    clear_current_application(&gone);
  }
  arm_sigint();
  stdout_capture out;
  std::raise(SIGINT);
  EXPECT_EQ(process_interrupt_pending, 1);
}

TEST_F(Signals, FloatingPointErrorFlagsTheModulesOnce) {
  // Eight module flags in the handler's order; the fifth is the unsaturated zone's.
  volatile std::sig_atomic_t flags[8] = {};
  std::vector<volatile std::sig_atomic_t*> order;
  for (auto& f : flags) order.push_back(&f);
  app.set_fpe_flags(order, &flags[4]);
  register_current_application(&app);
  install_sigfpe();
  stdout_capture out;
  std::raise(SIGFPE);
  for (const auto& f : flags) EXPECT_EQ(f, 1);
  // A module reports and marks its flag 2; the guard flag stays non-zero, so
  // a second error changes nothing and writes nothing.
  flags[0] = 2;
  flags[4] = 2;
  std::raise(SIGFPE);
  EXPECT_EQ(flags[0], 2);
  EXPECT_EQ(flags[4], 2);
  EXPECT_EQ(out.text(), "floating point error\n");
}

TEST_F(Signals, FloatingPointErrorWithoutApplicationIsHandedToTheNextOne) {
  install_sigfpe();
  stdout_capture out;
  std::raise(SIGFPE);
  std::raise(SIGFPE);
  EXPECT_EQ(out.text(), "floating point error\n");
  EXPECT_EQ(process_fpe_pending, 1);
  volatile std::sig_atomic_t flag = 0;
  app.set_fpe_flags({&flag}, &flag);
  register_current_application(&app);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(process_fpe_pending, 0);
}

TEST_F(Signals, FileOperationsIgnoreCtrlCAndThenArmOrDisarm) {
  arm_sigint();
  {
    file_operation_guard writing(sigint_after::arm);
    EXPECT_EQ(sigint_disposition(), SIG_IGN);
  }
  EXPECT_EQ(sigint_disposition(), &on_sigint);
  {
    file_operation_guard reading(sigint_after::disarm);
    EXPECT_EQ(sigint_disposition(), SIG_IGN);
  }
  EXPECT_EQ(sigint_disposition(), SIG_DFL);
}

// A division by zero that traps cannot be resumed: the handler writes its note
// and ends the process (every process under mpirun) with 128 + SIGFPE.
void divide_by_zero_with_traps() {
  install_sigfpe();
  feenableexcept(FE_DIVBYZERO);
  volatile double zero = 0.0;
  volatile double result = 1.0 / zero;
  (void)result;
  std::fprintf(stderr, "resumed after the fault\n");
  std::_Exit(0);
}

TEST(SignalsDeathTest, GenuineArithmeticFaultEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(divide_by_zero_with_traps(), ::testing::ExitedWithCode(FPE_ABORT_CODE), "");
}

}  // namespace
