#include "meteo/meteoint_linefile.h"

#include <sys/types.h>

#include <cerrno>
#include <cstring>

namespace {
constexpr size_t READ_BLOCK = 1 << 20;  // [bytes] per block read
}

std::string read_failure_text(int error) {
  return error != 0 ? errno_text(error) : std::string(": the read failed without a reason");
}

bool line_reader::open(const std::string& path, int64_t offset) {
  std::FILE* opened = std::fopen(path.c_str(), "rb");
  // Closing a file opened before must not hide why this open failed.
  const int open_error = errno;
  file.reset(opened);
  begin = end = 0;
  end_of_file = false;
  read_error = false;
  error_number = open_error;
  position = offset;
  if (!file) return false;
  error_number = 0;
  if (offset != 0 && fseeko(file.get(), static_cast<off_t>(offset), SEEK_SET) != 0) {
    error_number = errno;
    file.reset();
    return false;
  }
  return true;
}

bool line_reader::fill() {
  if (end_of_file || !file) return false;
  if (begin > 0) {
    std::memmove(buffer.data(), buffer.data() + begin, end - begin);
    end -= begin;
    begin = 0;
  }
  if (buffer.size() < end + READ_BLOCK) buffer.resize(end + READ_BLOCK);
  const size_t got = std::fread(buffer.data() + end, 1, READ_BLOCK, file.get());
  end += got;
  if (got < READ_BLOCK) {
    if (std::ferror(file.get()) != 0) {
      error_number = errno;
      read_error = true;
    }
    end_of_file = true;
  }
  return got > 0;
}

bool line_reader::next(std::string_view& line) {
  size_t searched = begin;
  for (;;) {
    const void* found = searched < end ? std::memchr(buffer.data() + searched, '\n', end - searched)
                                       : nullptr;
    if (found != nullptr) {
      const size_t stop = static_cast<size_t>(static_cast<const char*>(found) - buffer.data());
      line = std::string_view(buffer.data() + begin, stop - begin);
      position += static_cast<int64_t>(stop + 1 - begin);
      begin = stop + 1;
      return true;
    }
    const size_t unread = end - begin;
    if (!fill()) {
      if (read_error || begin == end) return false;
      // The last line of a file without a final line end.
      line = std::string_view(buffer.data() + begin, end - begin);
      position += static_cast<int64_t>(end - begin);
      begin = end;
      return true;
    }
    searched = begin + unread;
  }
}

bool line_reader::close() {
  if (!file) return true;
  const bool ok = std::fclose(file.release()) == 0;
  if (!ok) error_number = errno;
  return ok;
}
