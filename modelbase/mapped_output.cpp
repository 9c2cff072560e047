#include "modelbase/mapped_output.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Largest mapping at a time: the address space a write takes stays bounded.
constexpr long long MAP_PIECE_BYTES = 64LL << 20;

// File systems whose reservation holds real blocks for later writes into
// them: ext2/3/4, XFS, Btrfs (first writes into reserved extents are made in
// place) and tmpfs. Others may accept a reservation without keeping the room
// (copy-on-write file systems, network file systems), and a mapped write that
// then finds the disk full would end the process.
bool reservation_holds(int fd) {
  struct statfs info {};
  if (::fstatfs(fd, &info) != 0) return false;
  switch (static_cast<unsigned long>(info.f_type)) {
    case 0xEF53UL:      // ext2, ext3, ext4
    case 0x58465342UL:  // XFS
    case 0x9123683EUL:  // Btrfs
    case 0x01021994UL:  // tmpfs
      return true;
    default:
      return false;
  }
}

bool write_fully(int fd, const char* data, long long bytes, long long offset) {
  while (bytes > 0) {
    const ssize_t n = ::pwrite(fd, data, static_cast<size_t>(bytes), static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data += n;
    bytes -= n;
    offset += n;
  }
  return true;
}

}  // namespace

bool mapped_output::reserve_blocks(const std::string& path, long long bytes) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  bool reserved = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && reservation_holds(fd);
  // Mode 0: real blocks, and the file's length; no emulation that writes
  // zeros (posix_fallocate would).
  if (reserved && bytes > 0) reserved = ::fallocate(fd, 0, 0, static_cast<off_t>(bytes)) == 0;
  ::close(fd);
  return reserved;
}

mapped_output::mapped_output(const std::string& path) {
  if (path.empty()) {
    open_error_ = EBADF;
    return;
  }
  fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd_ < 0) open_error_ = errno;
}

mapped_output::~mapped_output() {
  if (fd_ >= 0) ::close(fd_);
}

bool mapped_output::close() {
  if (fd_ < 0) return true;
  const int fd = fd_;
  fd_ = -1;
  open_error_ = EBADF;
  return ::close(fd) == 0;
}

bool mapped_output::write_at(long long offset, const void* data, size_t bytes) {
  if (fd_ < 0) {
    errno = open_error_;
    return false;
  }
  static const long long page = ::sysconf(_SC_PAGESIZE);
  const auto* from = static_cast<const char*>(data);
  const auto total = static_cast<long long>(bytes);
  for (long long done = 0; done < total;) {
    const long long at = offset + done;
    const long long start = at / page * page;
    const long long n = std::min(total - done, MAP_PIECE_BYTES);
    const auto length = static_cast<size_t>(at + n - start);
    void* map = ::mmap(nullptr, length, PROT_WRITE, MAP_SHARED, fd_, static_cast<off_t>(start));
    if (map == MAP_FAILED) {
      // The blocks are reserved: a plain write cannot run out of room either.
      if (!write_fully(fd_, from + done, n, at)) return false;
    } else {
      std::memcpy(static_cast<char*>(map) + (at - start), from + done, static_cast<size_t>(n));
      ::munmap(map, length);
    }
    done += n;
  }
  return true;
}
