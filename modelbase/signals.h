// Ctrl-C and floating-point-error signals. The handlers only set flags of
// type sig_atomic_t and write one line with write(2); the time loop and the
// modules read the flags at their own checks.
#pragma once

#include <csignal>

// What the handlers act on: the run in progress registers itself as the
// receiver, so this layer never needs to know the application's type.
class signal_receiver {
 public:
  virtual ~signal_receiver() = default;
  // Ctrl-C state: 0 nothing pending, 1 pending; set by the SIGINT handler.
  volatile std::sig_atomic_t ctrl_c_state = 0;
  // Flags the modules' floating-point errors; true when this call set them.
  // Called from the SIGFPE handler, so it may only set flags.
  virtual bool flag_floating_point_error() = 0;
};

// The application of the run in progress; cleared when it is deleted.
void register_current_application(signal_receiver* app);
void clear_current_application(signal_receiver* app);

// Set when a Ctrl-C arrives while no application is registered; the next
// registered application takes it over as its pending interrupt.
extern volatile std::sig_atomic_t process_interrupt_pending;
// Set when a floating-point error is signalled while no application is
// registered; the next registered application flags its modules with it.
extern volatile std::sig_atomic_t process_fpe_pending;

void on_sigint(int signal_number);
void on_sigfpe(int signal_number, siginfo_t* info, void* context);

void arm_sigint();       // install on_sigint: a later Ctrl-C opens the menu
void disarm_sigint();    // default action: a later Ctrl-C ends the process
void ignore_sigint();    // Ctrl-C is ignored
void install_sigfpe();

// Exit code when a genuine arithmetic fault cannot be resumed (128 + SIGFPE,
// the shell's own convention for a process killed by SIGFPE).
constexpr int FPE_ABORT_CODE = 136;

// A file operation ignores Ctrl-C while it runs and afterwards re-installs the
// handler (writers) or restores the default action (readers).
enum class sigint_after { arm, disarm };
class file_operation_guard {
 public:
  explicit file_operation_guard(sigint_after after) : after_(after) { ignore_sigint(); }
  ~file_operation_guard() {
    if (after_ == sigint_after::arm)
      arm_sigint();
    else
      disarm_sigint();
  }
  file_operation_guard(const file_operation_guard&) = delete;
  file_operation_guard& operator=(const file_operation_guard&) = delete;

 private:
  sigint_after after_;
};
