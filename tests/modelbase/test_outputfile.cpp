// Result files are never left half-written: a whole file goes to a
// temporary name in its folder and is renamed when complete, an appended
// block is all there or not there. The writers are driven into a full disk
// (a 16 KiB tmpfs filled to the last block) and must fail with their usual
// entry and code, leave the previous file as it was (or no file), and leave
// no temporary behind.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "modelbase/gridfile_fixture.h"
#include "modelbase/outputfile.h"
#include "modelbase/routstat.h"
#include "modelbase/zonalstat.h"
#include "support/small_tmpfs.h"

namespace {

std::set<std::string> names_in(const std::string& folder) {
  std::set<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    found.insert(entry.path().filename().string());
  return found;
}

void put(std::FILE* file, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), file);
}

TEST(PendingFile, TheTargetChangesOnlyAtTheCommit) {
  scratch_dir dir;
  const std::string target = dir.file("grid.asc");
  for (bool commit : {false, true}) {
    SCOPED_TRACE(commit);
    dir_write(target, "old\n");
    {
      pending_file pending(target);
      std::FILE* file = pending.create_stream("w");
      ASSERT_NE(file, nullptr);
      put(file, "new\n");
      std::fclose(file);
      // Beside its target, under another name, while the target is untouched.
      EXPECT_EQ(std::filesystem::path(pending.temporary()).parent_path(),
                std::filesystem::path(target).parent_path());
      EXPECT_NE(pending.temporary(), target);
      EXPECT_EQ(read_file(target), "old\n");
      EXPECT_EQ(read_file(pending.temporary()), "new\n");
      if (commit) {
        EXPECT_TRUE(pending.commit());
      }
    }
    EXPECT_EQ(read_file(target), commit ? "new\n" : "old\n");
    EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"grid.asc"});
  }
}

TEST(PendingFile, FailuresLeaveNothing) {
  scratch_dir dir;
  // A folder that does not exist takes no temporary.
  {
    pending_file pending(dir.file("missing/grid.asc"));
    errno = 0;
    EXPECT_EQ(pending.create_stream("w"), nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(pending.commit());
  }
  // A folder is no file to replace: it is opened in place, which fails.
  std::filesystem::create_directory(dir.file("taken"));
  {
    pending_file pending(dir.file("taken"));
    errno = 0;
    EXPECT_EQ(pending.create_stream("w"), nullptr);
    EXPECT_EQ(errno, EISDIR);
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("taken")));
  EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"taken"});
}

TEST(PendingFile, DevicesAreWrittenInPlaceAndLinksFollowed) {
  // A device cannot be replaced by a file: /dev/null stays the device.
  {
    pending_file pending("/dev/null");
    std::FILE* file = pending.create_stream("w");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(pending.temporary(), "/dev/null");
    put(file, "gone\n");
    std::fclose(file);
    EXPECT_TRUE(pending.commit());
  }
  EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
  // Through a link the file it points to is replaced; the link stays.
  scratch_dir dir;
  dir_write(dir.file("real.asc"), "old\n");
  std::filesystem::create_symlink(dir.file("real.asc"), dir.file("link.asc"));
  {
    pending_file pending(dir.file("link.asc"));
    std::FILE* file = pending.create_stream("w");
    ASSERT_NE(file, nullptr);
    put(file, "new\n");
    std::fclose(file);
    EXPECT_TRUE(pending.commit());
  }
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.asc")));
  EXPECT_EQ(read_file(dir.file("real.asc")), "new\n");
  EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"link.asc", "real.asc"}));
}

TEST(AppendWholeBlock, AllOrNothingOnAFullDisk) {
  small_tmpfs disk;
  if (!disk.mounted()) GTEST_SKIP() << disk.skip_reason();
  const std::string name = disk.file("rows.sta");
  dir_write(name, "head\n");
  const std::string block(10000, 'r');  // more than one block of the disk
  disk.fill();
  std::FILE* file = std::fopen(name.c_str(), "a+");
  ASSERT_NE(file, nullptr);
  errno = 0;
  EXPECT_FALSE(append_whole_block(file, block));
  EXPECT_EQ(errno, ENOSPC);
  std::fclose(file);
  EXPECT_EQ(read_file(name), "head\n");
  // With room again the same block goes in whole.
  disk.free_space();
  file = std::fopen(name.c_str(), "a+");
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(append_whole_block(file, block));
  std::fclose(file);
  EXPECT_EQ(read_file(name), "head\n" + block);
}

// ---- every writer against a full disk ----

constexpr int ROW_STEPS = 200;

struct full_disk_fixture {
  explicit full_disk_fixture(const small_tmpfs& fs) : disk(fs), object(*cap.diag, store, 4, 3) {
    grid = make_grid(object, {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}}, 1, 3);
    stack = object.matrix_3d(1, 3, 1, 4, 2, 3);
    zones = std::vector<zone_record>(3);
    zones[1].code = 1;
    zones[1].share = 0.5;
    zones[2].code = 2;
    zones[2].share = 0.5;
  }
  // A statistic of both zones and the total, one row per step, with its
  // header written and the rows of ROW_STEPS steps in its buffer: more than
  // the rest of the header's block of the disk holds.
  template <class Statistic>
  std::unique_ptr<Statistic> statistic_with_rows(std::string& name) {
    int status = -1;
    std::unique_ptr<Statistic> stat;
    if constexpr (std::is_same_v<Statistic, routstatistic>) {
      const double values[3] = {0, 10, 20};
      stat = std::make_unique<routstatistic>(status, cap.diag.get(), nullptr, 0, nullptr, 0, 0,
                                             zones.data(), values, 2, 2001, 3, name, nullptr, 0,
                                             nullptr);
    } else {
      stat = std::make_unique<zonalstatistic>(status, cap.diag.get(), nullptr, 0, nullptr, 0, 0,
                                              zones.data(), 2, 2001, 3, name, nullptr, 0, nullptr);
    }
    EXPECT_EQ(status, 0);
    stat->write_header("z", "(test)", nullptr, 0);
    for (int64_t hour = 1; hour <= ROW_STEPS; ++hour) {
      stat->clear_step_sums();
      stat->add_value(0, 0, 1, 1.5 * static_cast<double>(hour), 1.0);
      stat->add_value(0, 0, 2, 2.5 * static_cast<double>(hour), 1.0);
      if constexpr (std::is_same_v<Statistic, routstatistic>)
        stat->complete_step_local(2001, 1, 1, hour);
      else
        stat->complete_step(2001, 1, 1, hour, 0);
    }
    return stat;
  }

  const small_tmpfs& disk;
  captured_diag cap;
  grid_store store;
  file_object object;
  grid_matrix grid;
  stack_matrix stack;
  std::vector<zone_record> zones;
};

TEST(FullDisk, WholeFilesKeepThePreviousFileOrNone) {
  small_tmpfs disk;
  if (!disk.mounted()) GTEST_SKIP() << disk.skip_reason();
  using writer = std::function<void(full_disk_fixture&, const std::string&)>;
  struct row {
    const char* what;
    writer write;
    int code;
    std::string fatal;  // the entry after "FATAL: ", %s for the path
  };
  const std::string no_space = ": " + std::string(std::strerror(ENOSPC));
  const row rows[] = {
      {"text grid",
       [](full_disk_fixture& f, const std::string& p) {
         f.object.write_grid(p, f.grid, true, false);
       },
       18, "write error %s" + no_space + " ! (18)"},
      {"single grid",
       [](full_disk_fixture& f, const std::string& p) {
         f.object.write_grid(p, f.grid, false, false);
       },
       18, "write error %s" + no_space + " ! (18)"},
      {"double grid region",
       [](full_disk_fixture& f, const std::string& p) {
         f.object.write_grid_region(p, f.grid, false, true);
       },
       18, "write error %s" + no_space + " ! (18)"},
      {"text stack",
       [](full_disk_fixture& f, const std::string& p) {
         f.object.write_stack(p, f.stack, 2, true, false);
       },
       18, "write error %s" + no_space + " ! (18)"},
      {"binary stack",
       [](full_disk_fixture& f, const std::string& p) {
         f.object.write_stack(p, f.stack, 2, false, true);
       },
       // Through MPI-IO, which reports the refused header (12 doubles) as a
       // short count without an error code.
       18, "write error %s: 0 of 96 bytes written ! (18)"},
      {"statistics header",
       [](full_disk_fixture& f, const std::string& p) {
         std::string name = p;
         int status = -1;
         zonalstatistic stat(status, f.cap.diag.get(), nullptr, 0, nullptr, 0, 0, f.zones.data(), 2,
                             2001, 3, name, nullptr, 0, nullptr);
         stat.write_header("z", "(test)", nullptr, 0);
       },
       16, "cannot close %s" + no_space},
      {"routing statistics header",
       [](full_disk_fixture& f, const std::string& p) {
         std::string name = p;
         int status = -1;
         const double values[3] = {0, 10, 20};
         routstatistic stat(status, f.cap.diag.get(), nullptr, 0, nullptr, 0, 0, f.zones.data(),
                            values, 2, 2001, 3, name, nullptr, 0, nullptr);
         stat.write_header("z", "(test)", nullptr, 0);
       },
       16, "cannot close %s" + no_space},
  };
  for (const row& r : rows) {
    for (bool previous : {true, false}) {
      SCOPED_TRACE(std::string(r.what) + (previous ? ", over a previous file" : ", new"));
      full_disk_fixture f(disk);
      const std::string path = disk.file("result");
      if (previous) dir_write(path, "previous\n");
      disk.fill();
      EXPECT_EQ(thrown_code([&] { r.write(f, path); }), r.code);
      disk.free_space();
      EXPECT_EQ(disk.names(), previous ? std::set<std::string>{"result"} : std::set<std::string>{});
      if (previous) {
        EXPECT_EQ(read_file(path), "previous\n");
      }
      char text[600];
      std::snprintf(text, sizeof text, r.fatal.c_str(), path.c_str());
      EXPECT_TRUE(has_fatal(f.cap, text)) << f.cap.console();
      std::filesystem::remove(path);
    }
  }
}

TEST(FullDisk, AStatisticsFileKeepsItsRowsAndLosesNone) {
  small_tmpfs disk;
  if (!disk.mounted()) GTEST_SKIP() << disk.skip_reason();
  for (bool routing : {false, true}) {
    SCOPED_TRACE(routing ? "routing statistic" : "zonal statistic");
    full_disk_fixture f(disk);
    std::string name = disk.file("z.sta");
    std::unique_ptr<zonalstatistic> stat =
        routing ? std::unique_ptr<zonalstatistic>(f.statistic_with_rows<routstatistic>(name))
                : f.statistic_with_rows<zonalstatistic>(name);
    const std::string header = read_file(name);
    ASSERT_FALSE(header.empty());

    // The rows meet a full disk: the file is its header, no part of a row.
    disk.fill();
    EXPECT_EQ(thrown_code([&] { stat->write_rows(); }), 16);
    EXPECT_EQ(read_file(name), header);
    EXPECT_EQ(disk.names(), std::set<std::string>{"z.sta"});

    // The rows stay buffered: with room again they are all appended, once.
    disk.free_space();
    stat->write_rows();
    const std::string with_rows = read_file(name);
    ASSERT_EQ(with_rows.compare(0, header.size(), header), 0);
    const std::string rows = with_rows.substr(header.size());
    EXPECT_EQ(count_of(rows, "\n"), ROW_STEPS);
    // Zone means 1.5 and 2.5 (and the total 2.0) with three decimals.
    EXPECT_EQ(rows.substr(0, rows.find('\n') + 1), routing
                                                       ? "2001\t 1\t 1\t 1\t1.500\t2.500\n"
                                                       : "2001\t 1\t 1\t 1\t1.500\t2.500\t2.000\n");

    // The efficiency tables of the routing go in whole or not at all.
    if (routing) {
      const comparison_table none{};
      disk.fill();
      EXPECT_EQ(thrown_code([&] {
                  static_cast<routstatistic&>(*stat).write_efficiency_tables(none, none);
                }),
                16);
      EXPECT_EQ(read_file(name), with_rows);
      disk.free_space();
      static_cast<routstatistic&>(*stat).write_efficiency_tables(none, none);
      EXPECT_EQ(count_of(read_file(name).substr(with_rows.size()), "\n"), 5 + 4 * 21);
    }
    EXPECT_TRUE(has_fatal(f.cap, "cannot close " + name + ": " + std::strerror(ENOSPC)))
        << f.cap.console();
    stat->release();
    std::filesystem::remove(name);
  }
}

}  // namespace
