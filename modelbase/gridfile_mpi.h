// What the grid and stack files need of the message-passing layer: agreeing
// on a failure so that every process stops with the same code instead of
// waiting for a process that has already given up, and reading and writing
// binary files through MPI-IO in pieces that respect its int counts.
#pragma once

#include <mpi.h>

#include <string>
#include <utility>
#include <vector>

class DiagStream;
class pending_file;

// A failure of a file operation: the code and the text of its entry after
// "FATAL: " (empty when the entry has been written already).
struct file_failure {
  int code = 0;
  std::string text;
};

// Writes the entry (when it has a text) and throws the code.
[[noreturn]] void throw_failure(DiagStream& diag, const file_failure& failure);

// Collective: the failure of the lowest failing process, on every process
// (code 0 when none failed).
file_failure agreed_failure(const file_failure& mine);

// Collective: when any process failed, every process writes the entry of the
// lowest failing process and throws its code; otherwise returns.
void settle_failures(DiagStream& diag, const file_failure& mine);

// ": " and the message-passing layer's text of an error code of its file
// interface (which reports no errno); empty for MPI_SUCCESS.
std::string mpi_error_text(int mpi_error);

// A text of process 0 to every process.
void broadcast_string(std::string& text);

// Reads up to bytes bytes at offset (independent I/O); returns the number of
// bytes read, less at the end of the file or on an error.
long long mpi_read_at(MPI_File file, long long offset, unsigned char* buffer, long long bytes);

// Runs of bytes of one process in a file: (offset from the data start, length),
// in increasing order, not overlapping.
using byte_runs = std::vector<std::pair<long long, long long>>;

// Collective: every process writes its runs, whose bytes follow each other in
// buffer, through a file view starting at data_start. False when the view or
// a write failed on this process, with reason (": " and what failed) set.
bool mpi_write_runs(MPI_File file, long long data_start, const byte_runs& runs,
                    const std::vector<unsigned char>& buffer, std::string& reason);

// The entries of an output file that cannot be made or opened (code 26,
// mode "text" or "binary") and of one that cannot be written (code 18).
std::string output_create_error(const std::string& path, const std::string& mode,
                                const std::string& reason);
std::string output_write_error(const std::string& path, const std::string& reason);

// Collective: process 0 makes the temporary of pending (the others pass
// none), every process opens it for writing, and it gets its whole length of
// bytes. A failure to make or open it is settled on all processes (26); a
// failure to size it is left in failure (18).
// With mapped given, process 0 first tries to reserve the file's blocks
// (mapped_output): where that works no MPI-IO file is opened (the result is
// MPI_FILE_NULL) and mapped gets the temporary's name on every process, for
// writes through mapped_output; otherwise mapped is left empty.
MPI_File open_shared_temporary(DiagStream& diag, const std::string& path,
                               const std::string& mode, pending_file* pending, long long bytes,
                               file_failure& failure, std::string* mapped = nullptr);

// Independent: writes bytes at offset in pieces of int counts. Does nothing
// when failure holds one already; sets it (18) when a write fails or falls
// short.
void mpi_write_at(MPI_File file, long long offset, const void* data, long long bytes,
                  const std::string& path, file_failure& failure);
