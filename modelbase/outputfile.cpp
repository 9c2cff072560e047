#include "modelbase/outputfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

namespace {

constexpr int NAME_ATTEMPTS = 100;  // temporary names tried before giving up

// "<folder>/.<base>.<pid>_<k>.tmp": hidden beside its target, and unique
// between runs that share an output folder.
std::string temporary_name(const std::string& target, int attempt) {
  const size_t slash = target.rfind('/');
  const std::string folder =
      slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  return folder + "." + base + "." + std::to_string(static_cast<long>(::getpid())) + "_" +
         std::to_string(attempt) + ".tmp";
}

}  // namespace

pending_file::pending_file(std::string target) : target_(std::move(target)) {}

pending_file::~pending_file() { discard(); }

bool pending_file::choose_destination() {
  destination_ = target_;
  in_place_ = false;
  if (char* resolved = ::realpath(target_.c_str(), nullptr)) {
    destination_ = resolved;
    std::free(resolved);
  }
  struct stat info {};
  if (::stat(destination_.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) in_place_ = true;
  return !in_place_;
}

bool pending_file::create() {
  discard();
  if (!choose_destination()) return true;
  std::FILE* stream = create_stream("wb");
  if (stream == nullptr) return false;
  if (std::fclose(stream) != 0) {
    const int error = errno;
    discard();
    errno = error;
    return false;
  }
  return true;
}

std::FILE* pending_file::create_stream(const char* mode) {
  discard();
  if (!choose_destination()) return std::fopen(target_.c_str(), mode);
  for (int attempt = 0; attempt < NAME_ATTEMPTS; ++attempt) {
    const std::string name = temporary_name(destination_, attempt);
    // O_EXCL: a name that exists (a leftover, another run's) is never taken
    // over; the mode gives the permissions of a file made by fopen.
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return nullptr;
    }
    temporary_ = name;
    std::FILE* stream = ::fdopen(fd, mode);
    if (stream == nullptr) {
      const int error = errno;
      ::close(fd);
      discard();
      errno = error;
    }
    return stream;
  }
  errno = EEXIST;
  return nullptr;
}

bool pending_file::commit() {
  if (in_place_) return true;
  if (temporary_.empty()) {
    errno = ENOENT;
    return false;
  }
  if (std::rename(temporary_.c_str(), destination_.c_str()) != 0) {
    const int error = errno;
    discard();
    errno = error;
    return false;
  }
  temporary_.clear();
  return true;
}

void pending_file::discard() {
  if (temporary_.empty()) return;
  const int error = errno;
  std::remove(temporary_.c_str());
  temporary_.clear();
  errno = error;
}

void append_format(std::string& out, const char* format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof buffer) {
    out.append(buffer, static_cast<size_t>(n));
    return;
  }
  const size_t at = out.size();
  out.resize(at + static_cast<size_t>(n) + 1);
  va_start(args, format);
  std::vsnprintf(out.data() + at, static_cast<size_t>(n) + 1, format, args);
  va_end(args);
  out.resize(at + static_cast<size_t>(n));
}

bool append_whole_block(std::FILE* file, const std::string& block) {
  // Written past stdio, so that no byte stays in a stream buffer to reach the
  // file after it has been cut back (a later fclose would flush it).
  const int fd = ::fileno(file);
  struct stat before {};
  if (fd < 0 || ::fstat(fd, &before) != 0) return false;
  size_t done = 0;
  while (done < block.size()) {
    const ssize_t n = ::write(fd, block.data() + done, block.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : ENOSPC;
      // A failed cut leaves nothing more to try; the write error is reported.
      [[maybe_unused]] const int cut = ::ftruncate(fd, before.st_size);
      errno = error;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}
