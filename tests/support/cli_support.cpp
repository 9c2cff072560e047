#include "support/cli_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

std::string shell_quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

cli_workdir::cli_workdir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "velmo_cli_XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

cli_workdir::~cli_workdir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void cli_workdir::write(const std::string& name, const std::string& text) const {
  std::ofstream f(file(name), std::ios::binary);
  f << text;
}

std::string cli_workdir::read(const std::string& name) const {
  std::ifstream f(file(name), std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool cli_workdir::exists(const std::string& name) const {
  return std::filesystem::exists(file(name));
}

run_result cli_workdir::run_velmo(int np, const std::vector<std::string>& args,
                                  const std::string& stdin_text, int threads) const {
  std::string command = "cd " + shell_quote(path_) + " && ";
  command += "OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 OMP_NUM_THREADS=" +
             std::to_string(threads) + " ";
  if (np > 0)
    command += std::string(VELMO_MPIRUN) +
               " --oversubscribe --bind-to none --mca btl self,vader -np " + std::to_string(np) +
               " ";
  command += shell_quote(VELMO_BINARY);
  for (const auto& a : args) command += " " + shell_quote(a);
  if (!stdin_text.empty()) {
    write(".stdin", stdin_text);
    command += " < .stdin";
  } else {
    command += " < /dev/null";
  }
  command += " 2>&1";
  run_result result;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  std::array<char, 4096> buf{};
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0) result.output.append(buf.data(), n);
  const int raw = pclose(pipe);
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  return result;
}

void copy_example_basin(const cli_workdir& dir) {
  namespace fs = std::filesystem;
  const fs::path source = fs::path(VELMO_EXAMPLES) / "basin";
  for (const auto& item : fs::directory_iterator(source)) {
    if (item.is_regular_file())
      fs::copy_file(item.path(), fs::path(dir.path()) / item.path().filename(),
                    fs::copy_options::overwrite_existing);
  }
  fs::create_directories(fs::path(dir.path()) / "output");
}
