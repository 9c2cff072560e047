#include "app/programentry.h"

#include <mpi.h>
#include <omp.h>

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <iostream>
#include <memory>
#include <thread>

#include "modelbase/diagstream.h"
#include "app/modapuzr.h"
#include "modelbase/signals.h"

namespace {

constexpr const char* USAGE =
    "FATAL: \nusage: velmovz[o]<32|64>|vedarazo64 <1-st cntrl-file> [<2-nd cntrl-file> ... "
    "[n-th cntrl-file]] [-diagfile:<diagnostics_file> "
    "[-diaglevel:<FATAL|ERROR|WARNING|INFO|DEBUG>]] [-dumpmode "
    "[-closeAfterDump|-repairAfterDump]]\n";

constexpr const char* DUMP_HELP_1 =
    "INFO: \n-dumpmode: if soil moisture or soil temperatures or hydraulic head (all in "
    "Richards approach only) leave the expected range, a dumpfile is written containing the "
    "actual internal registers (can be used for debugging) ";
constexpr const char* DUMP_HELP_2 =
    "\n-closeAfterDump: Velmo stops the program execution immediately (usefull to prevent the "
    "hard disk from beeing filled up with dumpfiles)";
constexpr const char* DUMP_HELP_3 =
    "\n-repairAfterDump: let Velmo try to repair the unexpected results, e.g. a soil "
    "temperature that is higher or lower than that of both neighboring soil layers will be set "
    "to the maxumum/minimum of the neighboring layers etc. Although the error is repaired it "
    "may well happen that the hard disk is flooded with other dump files.";

void write_banner(DiagStream& diag) {
  diag_entry(diag, std::string(76, '-').c_str());
  diag_entry(diag, "Velmo-Orv (MPI) ");
  diag_entry(diag, "64-bit Version on Linux ");
  diag_entry(diag, "Version: ", version_text());
  diag_entry(diag,
             "Velmo simulates the water balance and runoff of a river basin on a grid of "
             "square cells, driven by interpolated station data.");
  diag.flush_console();
}

void report_threads(DiagStream& diag, int rank) {
  int block[2] = {rank, 0};
#pragma omp parallel default(none) shared(block)
  {
    std::printf("This is OpenMP thread %d\n", omp_get_thread_num());
#pragma omp barrier
    if (omp_get_thread_num() == 0) {
      block[1] = omp_get_num_threads();
      std::printf("*** There are %d OpenMP threads total for MPI process %d\n", block[1],
                  block[0]);
    }
  }
  std::fflush(stdout);
  std::cout.flush();
  diag.flush_console();
}

// How long a process other than 0 leaves the abort to process 0. When every
// process fails alike (a control file that cannot be opened), the first abort
// would kill process 0 before it has written its entries to the only
// diagnostics file; a failure on process 0 ends this wait at once.
constexpr auto ABORT_GRACE = std::chrono::seconds(2);

// Ends every process with the code of an integer error. Returns only when the
// abort itself returns, and then the error code is the exit status.
int abort_all(std::unique_ptr<DiagStream>& diag, int code, int rank) {
  if (diag) {
    diag_entry(*diag, "FATAL: Exception ", code, " caught at top level!");
    diag_entry(*diag, "FATAL: Program aborted with exit code ", code);
    diag.reset();
  } else {
    std::fprintf(stderr, "FATAL: Exception %d caught at top level!\n", code);
    std::fprintf(stderr, "FATAL: Program aborted with exit code %d\n", code);
  }
  std::fflush(stdout);
  if (rank != 0) std::this_thread::sleep_for(ABORT_GRACE);
  MPI_Abort(MPI_COMM_WORLD, code);
  return code != 0 ? code : 1;
}

// Keeps the application registered for the signal handlers exactly as long
// as the object lives.
class application_registration {
 public:
  explicit application_registration(ModellApplication* app) : app_(app) {
    register_current_application(app_);
  }
  ~application_registration() { clear_current_application(app_); }
  application_registration(const application_registration&) = delete;
  application_registration& operator=(const application_registration&) = delete;

 private:
  ModellApplication* app_;
};

}  // namespace

int diag_level_of(const std::string& word) {
  std::string upper = word;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  static const char* const LEVELS[] = {"FATAL", "ERROR", "WARNING", "INFO", "DEBUG"};
  for (int level = 0; level < 5; ++level)
    if (upper == LEVELS[level]) return level;
  return 4;
}

diag_options read_diag_options(int argc, char** argv) {
  diag_options options;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument.starts_with("-diaglevel:")) {
      options.level = diag_level_of(argument.substr(11));
      options.level_index = i;
    } else if (argument.starts_with("-diagfile:")) {
      options.file_name = argument.substr(10);
      options.file_index = i;
    }
  }
  return options;
}

bool is_skipped_argument(const std::string& argument) {
  return argument.find("-dumpmode") != std::string::npos ||
         argument.find("-closeAfterDump") != std::string::npos ||
         argument.find("-repairAfterDump") != std::string::npos;
}

std::string version_text() {
  std::string text =
      "Richards 9.10.00, last change: $Date: December 04 2016 01:48 $, compiled at Dec  4 "
      "2016, 13:27:19";
  std::erase(text, '$');
  return text;
}

int program_entry(int argc, char** argv) {
  // A process waiting for another (process 0 reading or writing alone, a
  // neighbour still computing) gives up its core instead of polling at full
  // speed, which on a busy machine takes the core from the process waited
  // for. The launcher's or user's own setting is kept.
  setenv("OMPI_MCA_mpi_yield_when_idle", "1", 0);
  MPI_Init(&argc, &argv);
  int rank = 0;
  int process_count = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &process_count);
  MPI_Barrier(MPI_COMM_WORLD);

  const diag_options options = read_diag_options(argc, argv);
  std::unique_ptr<DiagStream> diag;
  try {
    diag = std::make_unique<DiagStream>(options.file_name, options.level);
  } catch (int code) {
    return abort_all(diag, code, rank);
  }

  write_banner(*diag);
  if (rank == 0) {
    diag_entry(*diag, "\n this is the MPI-Version of Velmo, here is instance ", 1, " of ",
               process_count);
  } else {
    std::printf("\n this is the MPI-Version of Velmo, here is instance %d of %d\n", rank + 1,
                process_count);
  }
  report_threads(*diag, rank);

  int exit_code = 0;
  try {
    if (argc <= 1) {
      diag_entry(*diag, USAGE);
      diag_entry(*diag, DUMP_HELP_1, DUMP_HELP_2, DUMP_HELP_3);
      throw 2;
    }
    for (int i = 1; i < argc; ++i) {
      if (i == options.level_index || i == options.file_index) continue;
      if (is_skipped_argument(argv[i])) continue;
      auto app = std::make_unique<ModellApplication>();
      app->init(diag.get(), argc, argv, i);
      const application_registration registration(app.get());
      exit_code = 0;
      arm_sigint();
      install_sigfpe();
      exit_code = app->run();
      app->ClearMemory();
    }
  } catch (int code) {
    return abort_all(diag, code, rank);
  }

  diag_entry(*diag, "exitcode ", exit_code);
  diag_entry(*diag, "o.k.\n\nthe end.");
  MPI_Finalize();
  diag.reset();
  return exit_code;
}
