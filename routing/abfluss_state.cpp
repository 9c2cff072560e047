// The channel routing's section "[routing_model]" of the storage content
// file: written first at the end of a run (the file is truncated), read at
// the end of the set-up unless readgrid is 0, 2 or 4; every reach writes and
// reads its own part in reach order.
#include <cerrno>
#include <cstdio>

#include "modelbase/diagstream.h"
#include "routing/abfluss.h"
#include "submodel/storage_content_file.h"

namespace {

constexpr const char* SECTION = "routing_model";
constexpr const char* DEFAULT_STATE_FILE = "storage.ftz";

}  // namespace

void abflussmodellklasse::read_state(const std::string* storage_file, int readgrid_in) {
  if (flow_control == 0) return;
  storage_name_kept = storage_file != nullptr;
  if (storage_name_kept) storage_file_name = *storage_file;
  if (!storage_name_kept || readgrid_in == 0 || readgrid_in == 2 || readgrid_in == 4) return;
  const std::string path = state_file_path(input_directory, storage_file_name);
  file_handle file(std::fopen(path.c_str(), "rt"));
  if (file == nullptr) fail_fatal(*diag, 64, "error opening storage content file ", path);
  state_reader in(*diag, file.get(), path, SECTION);
  if (!in.find_section())
    fail_fatal(*diag, 71, "error looking for the section ", SECTION, " in ", path);
  for (int i = 1; i <= reach_count(); ++i) reach(i).read_state(in);
}

void abflussmodellklasse::write_state() {
  const std::string path =
      state_file_path(output_directory, storage_name_kept ? storage_file_name : DEFAULT_STATE_FILE);
  file_handle out(std::fopen(path.c_str(), "wt"));
  if (out == nullptr) {
    // The accent is the byte 0xB4 (Latin-1) of the original messages.
    if (storage_name_kept)
      diag_entry(*diag, "WARNING: couldn\xb4t open file \"", path,
                 "\" \n(model version doesn\xb4t support this feature or write access error)");
    else
      diag_entry(*diag, "WARNING: couldn\xb4t open file ", path,
                 " \n(no filename was given or model version \ndoesn\xb4t support this feature "
                 "or the current user has no write access)");
    return;
  }
  std::FILE* f = out.get();
  std::fprintf(f, "[routing_model]\n");
  for (int i = 1; i <= reach_count(); ++i) reach(i).write_state(f);
  std::fprintf(f, "\n");
  const bool written = std::ferror(f) == 0;
  const int error = errno;
  if (std::fclose(out.release()) != 0 || !written) {
    diag_entry(*diag, "WARNING: error writing the section [routing_model] to ", path,
               errno_text(error));
    return;
  }
  storage_written = true;
}
