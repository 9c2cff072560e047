// The shares of a text grid body parsed apart: cut anywhere (inside a word, at
// white space, at the first word that is no number), the shares together give
// the words, values and first failing word of the whole text.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "modelbase/gridfile_text_parallel.h"

namespace {

bool is_space(char c) { return std::string(" \n\t\r\v\f").find(c) != std::string::npos; }

// The shares as the parallel reader builds them: each one extended to the end
// of its last word, told whether it starts inside a word.
std::vector<text_share> split(const std::string& text, const std::vector<size_t>& cuts) {
  std::vector<text_share> shares;
  size_t begin = 0;
  std::vector<size_t> ends = cuts;
  ends.push_back(text.size());
  for (size_t end : ends) {
    size_t stop = end;
    if (begin < end && !is_space(text[end - 1]))
      while (stop < text.size() && !is_space(text[stop])) ++stop;
    const bool in_word = begin > 0 && begin < end && !is_space(text[begin - 1]);
    shares.push_back(parse_text_share(std::string_view(text).substr(begin, stop - begin),
                                      begin < end && in_word));
    begin = end;
  }
  return shares;
}

// The shares joined: all values up to the first failing word and its index.
struct joined {
  std::vector<double> values;
  long long words = 0;
  long long first_bad = -1;
};

joined join(const std::vector<text_share>& shares) {
  joined j;
  for (const text_share& s : shares) {
    if (j.first_bad < 0) {
      j.values.insert(j.values.end(), s.values.begin(), s.values.end());
      if (s.first_bad >= 0) j.first_bad = j.words + s.first_bad;
    }
    j.words += s.words;
  }
  return j;
}

TEST(GridFileTextParallel, SharesCutAnywhereGiveTheWholeText) {
  struct row {
    const char* what;
    std::string text;
    std::vector<double> values;  // before the first failing word
    long long words;
    long long first_bad;
  };
  const std::vector<row> rows = {
      {"one number per line", "\n1\n22\n333\n", {1, 22, 333}, 3, -1},
      {"every kind of white space", " \t-1.5\r\n+2e3\v\f0x10  nan\n",
       {-1.5, 2000, 16, std::nan("")}, 4, -1},
      {"long words, no trailing space", "123456789.125 -9999 7", {123456789.125, -9999, 7}, 3,
       -1},
      {"a word that is no number", "1 2 x3 4 zz", {1, 2}, 5, 2},
      {"a number glued to text", "5 6abc 7", {5}, 3, 1},
      {"white space only", " \n\t ", {}, 0, -1},
  };
  for (const row& r : rows) {
    const joined whole = join(split(r.text, {}));
    EXPECT_EQ(whole.words, r.words) << r.what;
    EXPECT_EQ(whole.first_bad, r.first_bad) << r.what;
    ASSERT_EQ(whole.values.size(), r.values.size()) << r.what;
    for (size_t i = 0; i < r.values.size(); ++i) {
      if (r.values[i] != r.values[i]) {
        EXPECT_NE(whole.values[i], whole.values[i]) << r.what;
      } else {
        EXPECT_EQ(whole.values[i], r.values[i]) << r.what << " value " << i;
      }
    }
    // Two and three shares cut at every pair of places.
    for (size_t a = 0; a <= r.text.size(); ++a)
      for (size_t b = a; b <= r.text.size(); ++b) {
        const joined two = join(split(r.text, {a}));
        const joined three = join(split(r.text, {a, b}));
        for (const joined* j : {&two, &three}) {
          EXPECT_EQ(j->words, whole.words) << r.what << " cut " << a << "," << b;
          EXPECT_EQ(j->first_bad, whole.first_bad) << r.what << " cut " << a << "," << b;
          ASSERT_EQ(j->values.size(), whole.values.size()) << r.what << " cut " << a << "," << b;
          for (size_t i = 0; i < whole.values.size(); ++i)
            if (whole.values[i] == whole.values[i]) {
              EXPECT_EQ(j->values[i], whole.values[i]) << r.what << " cut " << a << "," << b;
            }
        }
      }
  }
}

TEST(GridFileTextParallel, FailureNamesRowAndColumnOfTheCell) {
  EXPECT_EQ(text_cell_failure_text("g.asc", 0, 4),
            "error reading ascii grid g.asc in ASCII-Format in row 1, col 1");
  EXPECT_EQ(text_cell_failure_text("g.asc", 9, 4),
            "error reading ascii grid g.asc in ASCII-Format in row 3, col 2");
}

}  // namespace
