// Synchronisation with an external model through files: the busy wait on the
// processor clock, the polling wait for the partner's file (with its own
// Ctrl-C menu, since a wait may last for ever) and the semaphore file that
// tells the partner this model's files are complete.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>

#include "modelbase/diagstream.h"
#include "app/modapuzr.h"
#include "modelbase/signals.h"

namespace {

constexpr int WAIT_CHOICE_CANCEL = 2;
constexpr int WAIT_CHOICE_LAST_KEPT = 3;  // 0, 1 and 3 stay for the time loop's agreement
constexpr int EXIT_CANCELLED_BY_USER = 98;
constexpr int NOT_ASKED = -1;
constexpr int SEMAPHORE_WRITE_ERROR = 18;
const char* const TEMPORARY_SEMAPHORE = "Velmo_Orv_temporary_semaphore.file";

// One character from standard input, leading white space skipped (the line
// end of an earlier answer is no answer). Nobody can answer a run without
// standard input: the end of input cancels, because the wait might never end
// and a second Ctrl-C would meet the same silence.
int read_wait_choice() {
  int c = std::getchar();
  while (c != EOF && std::isspace(c)) c = std::getchar();
  if (c == EOF) return WAIT_CHOICE_CANCEL;
  return std::isdigit(c) ? c - '0' : 0;
}

// Removes the temporary file, so that no half-written semaphore is left.
[[noreturn]] void fail_semaphore(DiagStream& diag, const std::string& target_name, const char* what,
                                 int error) {
  std::remove(TEMPORARY_SEMAPHORE);
  fail_fatal(diag, SEMAPHORE_WRITE_ERROR, "write error ", TEMPORARY_SEMAPHORE, errno_text(error),
             " ! (", error, ")\nthe semaphore file for the external model could not be ", what,
             " ", target_name);
}

}  // namespace

void ModellApplication::Wait(int64_t ticks) {
  const std::clock_t start = std::clock();
  if (start == static_cast<std::clock_t>(-1)) return;  // no processor clock to wait on
  const std::clock_t end = start + static_cast<std::clock_t>(ticks);
  while (std::clock() < end) {
  }
}

int ModellApplication::WaitForFile(const std::string& file_name, int64_t ticks) {
  try {
    *diag << "waiting for external synchronisation file " << file_name << "...";
    // The answer of this wait's menu. A kept answer (1 or 3) leaves the
    // state non-zero, which the SIGINT handler never changes: asking again at
    // every poll would block on standard input instead of polling.
    int answered = NOT_ASKED;
    for (;;) {
      if (std::FILE* file = std::fopen(file_name.c_str(), "rb")) {
        std::fclose(file);
        diag_entry(*diag, "found it! ");
        return 1;
      }
      if (ctrl_c_state != 0 && ctrl_c_state != answered) {
        ctrl_c_state = 0;
        diag_entry(*diag, "SKIP: \n\nCtrl-C pressed while waiting for ", file_name,
                   "\nCancel the model? \n0 = no (continue)\n2 = cancel now without saving "
                   "buffers!\n\nchoose one of the above options: ");
        const int choice = read_wait_choice();
        ctrl_c_state = choice;
        if (choice == WAIT_CHOICE_CANCEL) throw EXIT_CANCELLED_BY_USER;
        if (choice > WAIT_CHOICE_LAST_KEPT) ctrl_c_state = 0;
        answered = ctrl_c_state;
        arm_sigint();
      }
      Wait(ticks);
      arm_sigint();
    }
  } catch (int) {
    diag_entry(*diag, "FATAL: Exception in Modellapplication::WaitForFile() caught!");
    throw;
  }
}

void ModellApplication::WriteSemaphoreFile(const std::string& target_name,
                                           const std::string& content) {
  // The partner waits for the target file: a semaphore that silently fails
  // would leave it waiting for ever, so every failure ends the run.
  auto fail = [&](const char* what) { fail_semaphore(*diag, target_name, what, errno); };
  errno = 0;
  std::FILE* file = std::fopen(TEMPORARY_SEMAPHORE, "w");
  if (file == nullptr) fail_semaphore(*diag, target_name, "opened for", errno);
  const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  const bool flushed = std::fflush(file) == 0;
  if (!written || !flushed) {
    const int error = errno;
    std::fclose(file);
    fail_semaphore(*diag, target_name, "written for", error);
  }
  if (std::fclose(file) != 0) fail("closed for");
  if (std::rename(TEMPORARY_SEMAPHORE, target_name.c_str()) != 0) fail("renamed to");
}
