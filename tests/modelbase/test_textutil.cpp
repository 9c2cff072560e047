// Directory prefix, token splitting with quotes, pattern position and the
// in-place cut.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modelbase/textutil.h"

namespace {

TEST(TextUtil, PrefixDirectoryOnlyBeforeRelativeNames) {
  struct row {
    std::string directory, name, expected;
  };
  const std::vector<row> rows = {
      {"/data/in/", "grids/dem.asc", "/data/in/grids/dem.asc"},
      {"/data/in/", "/abs/dem.asc", "/abs/dem.asc"},
      {"/data/in/", "~/dem.asc", "~/dem.asc"},
      {"", "grids/dem.asc", "grids/dem.asc"},
      {"/data/in/", "", "/data/in/"},
      {"in", "dem.asc", "indem.asc"},  // no separator is added
  };
  for (const row& r : rows) {
    std::string name = r.name;
    prefix_directory(r.directory, name);
    EXPECT_EQ(name, r.expected) << r.directory << " + " << r.name;
  }
}

TEST(TextUtil, SplitString) {
  struct row {
    std::string text, delimiters;
    int keep_trailing_empty;
    std::vector<std::string> tokens;
  };
  const std::vector<row> rows = {
      {"a,,b,", ",", 0, {"a", "b"}},
      {"a,,b,", ",", 1, {"a", "b", ""}},
      {",,", ",", 0, {}},
      {",,", ",", 1, {"", ""}},
      {"", ",", 0, {}},
      {"", ",", 1, {""}},
      {"  one two\tthree ", " \t", 0, {"one", "two", "three"}},
      // A quoted part keeps its delimiters and its quotes; the character right
      // after the closing quote is passed over.
      {"x \"a b\" y", " ", 0, {"x", "\"a b\"", "y"}},
      {"\"a b\"c d", " ", 0, {"\"a b\"", "d"}},
      {R"("a \" b" c)", " ", 0, {R"("a \" b")", "c"}},
      {R"("a \\" b" c)", " ", 0, {R"("a \\")", "b\"", "c"}},
      {"x \"open to end", " ", 0, {"x", "\"open to end"}},
      // With '"' a delimiter there is no quoting.
      {"a\"b c\"d", "\" ", 0, {"a", "b", "c", "d"}},
  };
  for (const row& r : rows) {
    std::vector<std::string> list;
    EXPECT_EQ(split_string(r.text, r.delimiters, list, r.keep_trailing_empty),
              static_cast<int>(r.tokens.size()))
        << r.text;
    EXPECT_EQ(list, r.tokens) << r.text << " flag " << r.keep_trailing_empty;
  }
  // Tokens are appended; the count includes the earlier ones.
  std::vector<std::string> list = {"old"};
  EXPECT_EQ(split_string("p q", " ", list, 0), 3);
  EXPECT_EQ(list, (std::vector<std::string>{"old", "p", "q"}));
}

TEST(TextUtil, StringPositionIsZeroAlsoWhenAbsent) {
  EXPECT_EQ(string_position("abcdef", "def"), 3);
  EXPECT_EQ(string_position("abcdef", "abc"), 0);
  EXPECT_EQ(string_position("abcdef", "xyz"), 0);
  EXPECT_EQ(string_position("abcabc", "c"), 2);
}

TEST(TextUtil, StringCutKeepsStartToStartPlusN) {
  struct row {
    std::string text;
    int start, n;
    std::string expected;
  };
  const std::vector<row> rows = {
      {"abcdef", 1, 2, "bcd"},     {"abcdef", 0, 0, "a"},       {"abcdef", 4, 10, "ef"},
      {"abcdef", -1, 2, "abcdef"}, {"abcdef", 1, -2, "abcdef"}, {"abcdef", 5, 0, "f"},
  };
  for (const row& r : rows) {
    std::string text = r.text;
    EXPECT_EQ(&string_cut(text, r.start, r.n), &text);
    EXPECT_EQ(text, r.expected) << r.start << " " << r.n;
  }
}

}  // namespace
