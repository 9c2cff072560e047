// A tmpfs of a few KiB mounted on a scratch folder, so that a test can fill
// the disk on purpose. Mounting needs root (the CI runs as root); where it is
// refused, mounted() is false and the test skips. The file system is
// unmounted and its folder removed with the object, whatever the test did.
//
// Collective: every process constructs it; process 0 mounts and fills, and
// all processes learn the folder and whether the mount worked. The mount
// program is used rather than mount(2): <sys/mount.h> brings a struct
// file_handle that collides with the model's own.
#pragma once

#include <mpi.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

class small_tmpfs {
 public:
  explicit small_tmpfs(const char* options = "size=16k") {
    MPI_Comm_rank(MPI_COMM_WORLD, &rank_);
    char folder[512] = {};
    char reason[512] = {};
    int mounted = 0;
    if (rank_ == 0) {
      std::string pattern =
          (std::filesystem::temp_directory_path() / "velmo_tmpfs_XXXXXX").string();
      if (::mkdtemp(pattern.data()) == nullptr) {
        std::snprintf(reason, sizeof reason, "no scratch folder: %s", std::strerror(errno));
      } else {
        std::snprintf(folder, sizeof folder, "%s", pattern.c_str());
        const std::string command =
            std::string("mount -t tmpfs -o ") + options + " tmpfs '" + pattern + "' 2>/dev/null";
        if (std::system(command.c_str()) == 0)
          mounted = 1;
        else
          std::snprintf(reason, sizeof reason,
                        "mounting a small tmpfs (%s) is not permitted here; it "
                        "needs root",
                        command.c_str());
      }
    }
    MPI_Bcast(folder, sizeof folder, MPI_CHAR, 0, MPI_COMM_WORLD);
    MPI_Bcast(reason, sizeof reason, MPI_CHAR, 0, MPI_COMM_WORLD);
    MPI_Bcast(&mounted, 1, MPI_INT, 0, MPI_COMM_WORLD);
    path_ = folder;
    reason_ = reason;
    mounted_ = mounted != 0;
  }
  ~small_tmpfs() {
    MPI_Barrier(MPI_COMM_WORLD);
    if (rank_ != 0 || path_.empty()) return;
    if (mounted_) {
      const std::string quoted = "'" + path_ + "'";
      // A busy mount is detached instead, so that none outlives the test.
      if (std::system(("umount " + quoted + " 2>/dev/null").c_str()) != 0 &&
          std::system(("umount -l " + quoted).c_str()) != 0)
        std::fprintf(stderr, "could not unmount %s\n", path_.c_str());
    }
    ::rmdir(path_.c_str());
  }
  small_tmpfs(const small_tmpfs&) = delete;
  small_tmpfs& operator=(const small_tmpfs&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& skip_reason() const { return reason_; }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

  // Process 0 takes every free block with a filler file; collective.
  void fill() {
    if (rank_ == 0) {
      std::FILE* f = std::fopen(file(FILLER).c_str(), "ab");
      if (f != nullptr) {
        std::setvbuf(f, nullptr, _IONBF, 0);
        const std::vector<char> block(512, 'x');
        while (std::fwrite(block.data(), 1, block.size(), f) == block.size()) {
        }
        while (std::fwrite(block.data(), 1, 1, f) == 1) {
        }
        std::fclose(f);
      }
    }
    MPI_Barrier(MPI_COMM_WORLD);
  }
  // Gives the filler's blocks back; collective.
  void free_space() {
    if (rank_ == 0) std::remove(file(FILLER).c_str());
    MPI_Barrier(MPI_COMM_WORLD);
  }
  // The names in the folder, the filler left out.
  std::set<std::string> names() const {
    std::set<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
      const std::string name = entry.path().filename().string();
      if (name != FILLER) found.insert(name);
    }
    return found;
  }

 private:
  static constexpr const char* FILLER = "filler";
  int rank_ = 0;
  bool mounted_ = false;
  std::string path_;
  std::string reason_;
};
