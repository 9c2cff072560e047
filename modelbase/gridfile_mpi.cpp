#include "modelbase/gridfile_mpi.h"

#include <algorithm>
#include <cerrno>
#include <climits>

#include "modelbase/diagstream.h"
#include "modelbase/mapped_output.h"
#include "modelbase/modelobject.h"
#include "modelbase/outputfile.h"

namespace {

// Largest piece of one MPI-IO call, well inside an int count. [bytes]
constexpr long long IO_PIECE = 1LL << 30;

int world_rank() {
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  return rank;
}

void broadcast_string_from(std::string& text, int root) {
  long long length = static_cast<long long>(text.size());
  MPI_Bcast(&length, 1, MPI_LONG_LONG, root, MPI_COMM_WORLD);
  text.resize(static_cast<size_t>(length));
  long long done = 0;
  while (done < length) {
    const int n = static_cast<int>(std::min(length - done, IO_PIECE));
    MPI_Bcast(text.data() + done, n, MPI_CHAR, root, MPI_COMM_WORLD);
    done += n;
  }
}

}  // namespace

void throw_failure(DiagStream& diag, const file_failure& failure) {
  if (!failure.text.empty()) fail_fatal(diag, failure.code, failure.text);
  throw failure.code;
}

file_failure agreed_failure(const file_failure& mine) {
  const int me = mine.code != 0 ? world_rank() : INT_MAX;
  int lowest = INT_MAX;
  MPI_Allreduce(&me, &lowest, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  if (lowest == INT_MAX) return {};
  file_failure agreed = mine;
  MPI_Bcast(&agreed.code, 1, MPI_INT, lowest, MPI_COMM_WORLD);
  broadcast_string_from(agreed.text, lowest);
  return agreed;
}

void settle_failures(DiagStream& diag, const file_failure& mine) {
  const file_failure agreed = agreed_failure(mine);
  if (agreed.code != 0) throw_failure(diag, agreed);
}

void broadcast_string(std::string& text) { broadcast_string_from(text, 0); }

std::string mpi_error_text(int mpi_error) {
  if (mpi_error == MPI_SUCCESS) return "";
  char text[MPI_MAX_ERROR_STRING];
  int length = 0;
  if (MPI_Error_string(mpi_error, text, &length) != MPI_SUCCESS) return "";
  return ": " + std::string(text, static_cast<size_t>(length));
}

long long mpi_read_at(MPI_File file, long long offset, unsigned char* buffer, long long bytes) {
  long long done = 0;
  while (done < bytes) {
    const int n = static_cast<int>(std::min(bytes - done, IO_PIECE));
    MPI_Status status;
    if (MPI_File_read_at(file, static_cast<MPI_Offset>(offset + done), buffer + done, n, MPI_BYTE,
                         &status) != MPI_SUCCESS)
      break;
    int got = 0;
    MPI_Get_count(&status, MPI_BYTE, &got);
    if (got <= 0) break;
    done += got;
    if (got < n) break;
  }
  return done;
}

bool mpi_write_runs(MPI_File file, long long data_start, const byte_runs& runs,
                    const std::vector<unsigned char>& buffer, std::string& reason) {
  reason.clear();
  auto note = [&](int mpi_error) {
    if (reason.empty()) reason = mpi_error_text(mpi_error);
  };
  // A run longer than an int count is split.
  std::vector<int> lengths;
  std::vector<MPI_Aint> offsets;
  for (const auto& [offset, length] : runs) {
    for (long long done = 0; done < length; done += IO_PIECE) {
      offsets.push_back(static_cast<MPI_Aint>(offset + done));
      lengths.push_back(static_cast<int>(std::min(length - done, IO_PIECE)));
    }
  }
  bool ok = true;
  MPI_Datatype view = MPI_BYTE;
  const bool own_type = !lengths.empty();
  if (own_type) {
    int made = MPI_Type_create_hindexed(static_cast<int>(lengths.size()), lengths.data(),
                                        offsets.data(), MPI_BYTE, &view);
    if (made == MPI_SUCCESS) made = MPI_Type_commit(&view);
    ok = made == MPI_SUCCESS;
    if (!ok) {
      note(made);
      view = MPI_BYTE;
    }
  }
  const int viewed = MPI_File_set_view(file, static_cast<MPI_Offset>(data_start), MPI_BYTE, view,
                                       "native", MPI_INFO_NULL);
  if (viewed != MPI_SUCCESS) {
    ok = false;
    note(viewed);
  }
  // The collective write needs the same number of calls everywhere.
  const long long total = ok ? static_cast<long long>(buffer.size()) : 0;
  long long longest = 0;
  MPI_Allreduce(&total, &longest, 1, MPI_LONG_LONG, MPI_MAX, MPI_COMM_WORLD);
  long long done = 0;
  for (long long round = 0; round < longest; round += IO_PIECE) {
    const int n = static_cast<int>(std::clamp(total - done, 0LL, IO_PIECE));
    MPI_Status status;
    const int wrote = MPI_File_write_all(file, buffer.data() + done, n, MPI_BYTE, &status);
    if (wrote != MPI_SUCCESS) {
      ok = false;
      note(wrote);
    } else {
      int written = 0;
      MPI_Get_count(&status, MPI_BYTE, &written);
      if (written != n) {
        ok = false;
        // No error code: the layer took fewer bytes than it was given.
        if (reason.empty())
          reason = ": " + std::to_string(written) + " of " + std::to_string(n) + " bytes written";
      }
    }
    done += n;
  }
  if (own_type) MPI_Type_free(&view);
  return ok;
}

std::string output_create_error(const std::string& path, const std::string& mode,
                                const std::string& reason) {
  return "error creating " + path + reason + " for writing in " + mode + " mode.";
}

std::string output_write_error(const std::string& path, const std::string& reason) {
  return "write error " + path + reason + " ! (18)";
}

MPI_File open_shared_temporary(DiagStream& diag, const std::string& path,
                               const std::string& mode, pending_file* pending, long long bytes,
                               file_failure& failure, std::string* mapped) {
  std::string temporary;
  int reserved = 0;
  if (pending != nullptr) {
    if (pending->create()) {
      temporary = pending->temporary();
      if (mapped != nullptr) reserved = mapped_output::reserve_blocks(temporary, bytes) ? 1 : 0;
    } else {
      failure = {26, output_create_error(path, mode, errno_text(errno != 0 ? errno : EIO))};
    }
  }
  broadcast_string(temporary);
  settle_failures(diag, failure);
  if (mapped != nullptr) {
    MPI_Bcast(&reserved, 1, MPI_INT, 0, MPI_COMM_WORLD);
    mapped->clear();
    if (reserved != 0) {
      *mapped = temporary;
      return MPI_FILE_NULL;
    }
  }
  MPI_File file;
  const int opened =
      MPI_File_open(MPI_COMM_WORLD, temporary.c_str(), MPI_MODE_WRONLY, MPI_INFO_NULL, &file);
  if (opened != MPI_SUCCESS) failure = {26, output_create_error(path, mode, mpi_error_text(opened))};
  settle_failures(diag, failure);
  const int sized = MPI_File_set_size(file, static_cast<MPI_Offset>(bytes));
  if (sized != MPI_SUCCESS) failure = {18, output_write_error(path, mpi_error_text(sized))};
  return file;
}

void mpi_write_at(MPI_File file, long long offset, const void* data, long long bytes,
                  const std::string& path, file_failure& failure) {
  const auto* from = static_cast<const char*>(data);
  for (long long done = 0; done < bytes && failure.code == 0;) {
    const int n = static_cast<int>(std::min(bytes - done, IO_PIECE));
    MPI_Status status;
    int written = 0;
    int wrote = MPI_File_write_at(file, static_cast<MPI_Offset>(offset + done),
                                  const_cast<char*>(from + done), n, MPI_BYTE, &status);
    if (wrote == MPI_SUCCESS) wrote = MPI_Get_count(&status, MPI_BYTE, &written);
    if (wrote != MPI_SUCCESS)
      failure = {18, output_write_error(path, mpi_error_text(wrote))};
    else if (written != n)
      failure = {18, output_write_error(path, ": " + std::to_string(written) + " of " +
                                                  std::to_string(n) + " bytes written")};
    done += n;
  }
}
