// Reading "[multilayer_landuse]": the layer codes, extinction coefficient and
// leaf-area scaling of each class, the missing section, and the failure
// entries of malformed tables.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tables/multilayer.h"
#include "tests/tables/table_test_support.h"

namespace {

std::string section(int count, const std::string& classes) {
  return "[multilayer_landuse]\n" + std::to_string(count) + "\n" + classes;
}

TEST(MultilayerTable, MissingSectionGivesNoTableAndNoEntry) {
  control_file_reader f("[landuse_table]\n0\n");
  multilayer_table_t t(3);
  EXPECT_FALSE(read_multilayer_landuse(f.reader(), 2, t));
  EXPECT_TRUE(t.empty());
  EXPECT_TRUE(f.records().empty());
}

TEST(MultilayerTable, LayerListsAndDefaults) {
  struct row {
    std::string text;
    std::vector<int> codes;
    double k_extinct, lai_scale;
  };
  const std::vector<row> rows = {
      {"21 forest { Landuse_Layers = 12, 13, 14; k_extinct = 0.5; LAI_scale = 8; }",
       {3, 12, 13, 14},
       0.5,
       8.0},
      // Codes separated only by blanks form one piece, read as its first number.
      {"21 forest { Landuse_Layers = 12 13 14; }", {1, 12}, 0.3, 10.0},
      // A piece that does not begin with an integer is dropped.
      {"21 forest { Landuse_Layers = x, 7,; k_extinct = abc; }", {1, 7}, 0.0, 10.0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.text);
    control_file_reader f(section(1, r.text + "\n"));
    multilayer_table_t t;
    ASSERT_TRUE(read_multilayer_landuse(f.reader(), 2, t));
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].code, 1);
    const multilayer_landuse_entry& e = t[1];
    EXPECT_EQ(e.code, 21);
    EXPECT_EQ(e.code_as_read, 21);
    EXPECT_EQ(e.name, "forest");
    EXPECT_EQ(e.layer_codes, r.codes);
    EXPECT_EQ(e.layer_codes_as_read, r.codes);
    EXPECT_EQ(e.layer_count, r.codes[0]);
    EXPECT_EQ(e.k_extinct, r.k_extinct);
    EXPECT_EQ(e.LAI_scale, r.lai_scale);
  }
}

TEST(MultilayerTable, ClassOverSeveralLines) {
  control_file_reader f(section(2,
                                "1 a { Landuse_Layers = 1, 2;\n k_extinct = 0.4;\n}\n"
                                "2 b { Landuse_Layers = 3, 4; LAI_scale = 5; }\n"));
  multilayer_table_t t;
  ASSERT_TRUE(read_multilayer_landuse(f.reader(), 2, t));
  EXPECT_EQ(t[1].layer_codes, (std::vector<int>{2, 1, 2}));
  EXPECT_EQ(t[1].k_extinct, 0.4);
  EXPECT_EQ(t[2].layer_codes, (std::vector<int>{2, 3, 4}));
  EXPECT_EQ(t[2].LAI_scale, 5);
}

struct failure_case {
  const char* what;
  std::string control;
  int code;
  std::vector<diag_record> entries;
};

std::vector<failure_case> failure_cases() {
  std::vector<failure_case> cases;
  cases.push_back({"second class with more layers",
                   section(2,
                           "5 a { Landuse_Layers = 1, 2; }\n"
                           "6 b { Landuse_Layers = 1, 2, 3; }\n"),
                   111,
                   {{FATAL_LEVEL,
                     "\nThe numbers of landuse layers has to be equal for all "
                     "multilayer-landuse types\n(here: multilayer-landuse type 6: 3 "
                     "layers, but multilayer-landuse type 5: 2 layers)\n\n"}}});
  // The first line lacks "Landuse_Layers": the entry keeps one layer and its
  // index as code.
  cases.push_back({"first line without Landuse_Layers",
                   section(2,
                           "5 a {\n"
                           "6 b { Landuse_Layers = 1, 2; }\n"),
                   111,
                   {{FATAL_LEVEL,
                     "\nThe numbers of landuse layers has to be equal for all "
                     "multilayer-landuse types\n(here: multilayer-landuse type 6: 2 "
                     "layers, but multilayer-landuse type 1: 1 layers)\n\n"}}});
  {
    const std::string text = "x a { Landuse_Layers = 1, 2; }\n";
    cases.push_back(
        {"code not a number",
         section(1, text),
         110,
         {{FATAL_LEVEL,
           "multilayer_landuse_table code 1: some parameters could not be read\n" + text}}});
  }
  {
    const std::string text = "7 a { Landuse_Layers = ; }\n";
    cases.push_back(
        {"no land-use code",
         section(1, text),
         110,
         {{FATAL_LEVEL,
           "multilayer_landuse_table code 7: key \"Landuse_Layers\" lists no land-use code"},
          {FATAL_LEVEL,
           "multilayer_landuse_table code 7: some parameters could not be read\n" + text}}});
  }
  {
    const std::string text = "8 a { Landuse_Layers = 1, 2\n";
    cases.push_back({"file ends inside the class",
                     section(1, text),
                     110,
                     {{FATAL_LEVEL,
                       "multilayer_landuse_table code 8: the control file ends inside the "
                       "class (no \"}\")\n" +
                           text}}});
  }
  cases.push_back(
      {"file ends before the second class",
       section(2, "5 a { Landuse_Layers = 1; }\n"),
       110,
       {{FATAL_LEVEL, "multilayer_landuse_table: the control file ends after 1 of 2 classes"}}});
  cases.push_back(
      {"count not a number",
       "[multilayer_landuse]\ntwo\n",
       110,
       {{FATAL_LEVEL,
         "multilayer_landuse_table: the number of classes \"two\" is not a whole number"}}});
  cases.push_back(
      {"count negative",
       "[multilayer_landuse]\n-3\n",
       110,
       {{FATAL_LEVEL, "multilayer_landuse_table: the number of classes -3 is negative"}}});
  {
    const std::string text = "9 " + std::string(200, 'n') + " { Landuse_Layers = 1; }\n";
    cases.push_back(
        {"name longer than its buffer",
         section(1, text),
         110,
         {{FATAL_LEVEL,
           "multilayer_landuse_table code 9: the class name is longer than 199 characters"},
          {FATAL_LEVEL,
           "multilayer_landuse_table code 9: some parameters could not be read\n" + text}}});
  }
  return cases;
}

TEST(MultilayerTable, MalformedTablesEndWithTheirEntriesAndCode) {
  for (const failure_case& c : failure_cases()) {
    SCOPED_TRACE(c.what);
    control_file_reader f(c.control);
    multilayer_table_t t;
    EXPECT_EQ(thrown_code([&] { read_multilayer_landuse(f.reader(), 2, t); }), c.code);
    EXPECT_EQ(f.records(), c.entries);
  }
}

}  // namespace
