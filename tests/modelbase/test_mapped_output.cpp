// Byte ranges written into one file through mappings: every range lands at
// its offset whatever its alignment to pages and to the largest mapping, and
// nothing is mapped where the file's blocks could not be reserved first (a
// device, a missing file), so that a full disk can never end the process
// with a signal.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "modelbase/gridfile_fixture.h"
#include "modelbase/mapped_output.h"
#include "support/test_support.h"

namespace {

std::string pattern(size_t bytes, char seed) {
  std::string text(bytes, ' ');
  for (size_t i = 0; i < bytes; ++i) text[i] = static_cast<char>('a' + (seed + i * 7) % 26);
  return text;
}

TEST(MappedOutput, RangesLandAtTheirOffsets) {
  scratch_dir dir;
  const std::string path = dir.file("out.txt");
  // (offset, length): the first byte, a range ending one byte into a page,
  // one crossing a page boundary, one longer than the largest mapping
  // (64 MiB) starting off a page, and the last byte.
  const long long big = (64LL << 20) + 4099;
  const std::vector<std::pair<long long, long long>> ranges = {
      {0, 1}, {1, 4096}, {4097, 8190}, {12287, big}, {12287 + big, 1}};
  const long long total = 12287 + big + 1;
  dir_write(path, "");
  ASSERT_TRUE(mapped_output::reserve_blocks(path, total));
  std::string expected;
  {
    // Two writers, as two processes would be, each with every other range.
    mapped_output first(path);
    mapped_output second(path);
    ASSERT_TRUE(first.usable());
    for (size_t k = 0; k < ranges.size(); ++k) {
      const std::string text = pattern(static_cast<size_t>(ranges[k].second), static_cast<char>(k));
      expected += text;
      mapped_output& writer = k % 2 == 0 ? first : second;
      EXPECT_TRUE(writer.write_at(ranges[k].first, text.data(), text.size())) << k;
    }
  }
  const std::string got = read_file(path);
  ASSERT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected);
}

TEST(MappedOutput, NothingIsMappedWithoutReservedBlocks) {
  scratch_dir dir;
  for (const std::string& path : {std::string("/dev/null"), std::string("/dev/full"),
                                  dir.file("missing/out.txt")}) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(mapped_output::reserve_blocks(path, 100));
  }
  // No name (nothing reserved) or a name that cannot be opened: every write
  // fails and says why.
  for (const std::string& path : {std::string(), dir.file("missing/out.txt")}) {
    SCOPED_TRACE(path);
    mapped_output unopened(path);
    EXPECT_FALSE(unopened.usable());
    errno = 0;
    EXPECT_FALSE(unopened.write_at(0, "xx", 2));
    EXPECT_NE(errno, 0);
    EXPECT_TRUE(unopened.close());
  }
}

}  // namespace
