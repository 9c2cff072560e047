#include "modelbase/mapped_output.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace {

// Largest mapping at a time: the address space a write takes stays bounded.
constexpr long long MAP_PIECE_BYTES = 64LL << 20;

}  // namespace

bool mapped_output::reserve_blocks(const std::string& path, long long bytes) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  bool reserved = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  // Without reservation (mode 0 of fallocate, no zero-writing emulation) no
  // mapping is used.
  if (reserved && bytes > 0) reserved = ::fallocate(fd, 0, 0, static_cast<off_t>(bytes)) == 0;
  ::close(fd);
  return reserved;
}

mapped_output::mapped_output(const std::string& path, bool reserved) {
  if (reserved) fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
}

mapped_output::~mapped_output() {
  if (fd_ >= 0) ::close(fd_);
}

bool mapped_output::write_at(long long offset, const void* data, size_t bytes) {
  if (fd_ < 0 || offset < 0) return false;
  static const long long page = ::sysconf(_SC_PAGESIZE);
  const auto* from = static_cast<const char*>(data);
  long long done = 0;
  const auto total = static_cast<long long>(bytes);
  while (done < total) {
    const long long at = offset + done;
    const long long start = at / page * page;
    const long long n = std::min(total - done, MAP_PIECE_BYTES);
    const auto length = static_cast<size_t>(at + n - start);
    void* map = ::mmap(nullptr, length, PROT_WRITE, MAP_SHARED, fd_, static_cast<off_t>(start));
    if (map == MAP_FAILED) return false;
    std::memcpy(static_cast<char*>(map) + (at - start), from + done, static_cast<size_t>(n));
    ::munmap(map, length);
    done += n;
  }
  return true;
}
