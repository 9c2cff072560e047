#include "modelbase/signals.h"

#include <mpi.h>
#include <unistd.h>

#include <atomic>
#include <cstring>


volatile std::sig_atomic_t process_interrupt_pending = 0;
volatile std::sig_atomic_t process_fpe_pending = 0;

namespace {

std::atomic<signal_receiver*> current_application{nullptr};
static_assert(std::atomic<signal_receiver*>::is_always_lock_free,
              "the signal handlers read the application pointer");

void write_note(const char* text) {
  const ssize_t ignored = ::write(STDOUT_FILENO, text, std::strlen(text));
  (void)ignored;
}

void set_handler(int signal_number, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaction(signal_number, &action, nullptr);
}

}  // namespace

void register_current_application(signal_receiver* app) {
  current_application.store(app);
  if (app == nullptr) return;
  if (process_interrupt_pending != 0) {
    process_interrupt_pending = 0;
    if (app->ctrl_c_state == 0) app->ctrl_c_state = 1;
  }
  if (process_fpe_pending != 0) {
    process_fpe_pending = 0;
    app->flag_floating_point_error();
  }
}

void clear_current_application(signal_receiver* app) {
  signal_receiver* expected = app;
  current_application.compare_exchange_strong(expected, nullptr);
}

void on_sigint(int) {
  ignore_sigint();
  signal_receiver* app = current_application.load();
  volatile std::sig_atomic_t* state =
      app != nullptr ? &app->ctrl_c_state : &process_interrupt_pending;
  if (*state == 0) {
    *state = 1;
    write_note("\nCntr-C pressed! please wait...\n\n");
  }
}

void on_sigfpe(int, siginfo_t* info, void*) {
  install_sigfpe();
  const bool sent = info == nullptr || info->si_code <= 0;  // kill(), sigqueue(), tkill()
  signal_receiver* app = current_application.load();
  bool noted = false;
  if (app != nullptr) {
    noted = app->flag_floating_point_error();
  } else if (process_fpe_pending == 0) {
    process_fpe_pending = 1;
    noted = true;
  }
  if (!sent) {
    // The faulting instruction would fault again on return: end every
    // process, always with the note so that the cause is on the console.
    write_note("floating point error\n");
    MPI_Abort(MPI_COMM_WORLD, FPE_ABORT_CODE);
    _exit(FPE_ABORT_CODE);
  }
  if (noted) write_note("floating point error\n");
}

void arm_sigint() { set_handler(SIGINT, on_sigint); }
void disarm_sigint() { set_handler(SIGINT, SIG_DFL); }
void ignore_sigint() { set_handler(SIGINT, SIG_IGN); }

void install_sigfpe() {
  struct sigaction action {};
  action.sa_sigaction = on_sigfpe;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  sigaction(SIGFPE, &action, nullptr);
}
