// Black-box runs of the velmo program: under mpirun with N processes or as a
// single process, in a scratch working directory.
#pragma once

#include <string>
#include <vector>

struct run_result {
  int status = -1;      // exit status as the shell sees it
  std::string output;   // standard output and error
};

class cli_workdir {
 public:
  cli_workdir();
  ~cli_workdir();
  cli_workdir(const cli_workdir&) = delete;
  cli_workdir& operator=(const cli_workdir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& text) const;
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const;

  // velmo with the arguments, under mpirun with np processes (np 0: alone),
  // each with the given number of OpenMP threads.
  run_result run_velmo(int np, const std::vector<std::string>& args,
                       const std::string& stdin_text = "", int threads = 2) const;

 private:
  std::string path_;
};

std::string shell_quote(const std::string& text);

// Copies the files of the example basin (control file, grids, output folder)
// into the working directory.
void copy_example_basin(const cli_workdir& dir);
