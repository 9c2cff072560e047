#include "modelbase/gridfile_text_parallel.h"

#include <mpi.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "modelbase/gridfile_format.h"

namespace {

// Bytes read at a time to finish the last word of a share. [bytes]
constexpr long long WORD_TAIL_PIECE = 4096;
// Values of one message: counts and block lists stay well inside an int.
constexpr long long MESSAGE_VALUES = 1LL << 24;

// The C locale's white space, as the word-by-word reader skips it.
inline bool is_space(char c) {
  return c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// What each process tells the others: the cells it parsed and the rows it wants.
struct share_layout {
  long long first_cell = 0;  // body index of its first value
  long long cells = 0;       // values it holds
  long long want_first = 0;  // rows
  long long want_last = -1;
};

// The bytes of this process's share [begin, end) of a file of size bytes,
// the byte before it (when begin > body start) and the rest of its last word.
// False when the file layer read fewer bytes than the file has.
bool read_share(MPI_File file, long long begin, long long end, long long size, bool has_before,
                std::string& bytes) {
  const long long from = has_before ? begin - 1 : begin;
  bytes.resize(static_cast<size_t>(end - from));
  if (mpi_read_at(file, from, reinterpret_cast<unsigned char*>(bytes.data()), end - from) !=
      end - from)
    return false;
  long long at = end;
  while (at < size && !bytes.empty() && !is_space(bytes.back())) {
    const long long n = std::min(WORD_TAIL_PIECE, size - at);
    const size_t old = bytes.size();
    bytes.resize(old + static_cast<size_t>(n));
    if (mpi_read_at(file, at, reinterpret_cast<unsigned char*>(bytes.data() + old), n) != n)
      return false;
    // Keep the word's characters up to the first white space.
    size_t stop = old;
    while (stop < bytes.size() && !is_space(bytes[stop])) ++stop;
    if (stop < bytes.size()) {
      bytes.resize(stop);
      break;
    }
    at += n;
  }
  return true;
}

// An MPI type of the cells [lo, hi) (body indices) in the rows of grid,
// addressed absolutely (for MPI_BOTTOM).
MPI_Datatype cells_type(const grid_matrix& grid, long long lo, long long hi, int ncols) {
  std::vector<int> lengths;
  std::vector<MPI_Aint> addresses;
  for (long long at = lo; at < hi;) {
    const int row = static_cast<int>(at / ncols) + 1;
    const int col = static_cast<int>(at % ncols) + 1;
    const long long n = std::min<long long>(ncols - col + 1, hi - at);
    MPI_Aint address = 0;
    MPI_Get_address(grid[row] + col, &address);
    addresses.push_back(address);
    lengths.push_back(static_cast<int>(n));
    at += n;
  }
  MPI_Datatype type;
  MPI_Type_create_hindexed(static_cast<int>(lengths.size()), lengths.data(), addresses.data(),
                           MPI_DOUBLE, &type);
  MPI_Type_commit(&type);
  return type;
}

void copy_cells(const double* values, grid_matrix& grid, long long lo, long long hi, int ncols) {
  for (long long at = lo; at < hi;) {
    const int row = static_cast<int>(at / ncols) + 1;
    const int col = static_cast<int>(at % ncols) + 1;
    const long long n = std::min<long long>(ncols - col + 1, hi - at);
    std::memcpy(grid[row] + col, values, static_cast<size_t>(n) * sizeof(double));
    values += n;
    at += n;
  }
}

// Hands every process the cells it wants of those each one parsed: posted
// receives straight into the grid rows, posted sends from the parsed values.
void distribute_cells(const std::vector<share_layout>& layout, int me, const text_share& share,
                      grid_matrix& grid, int ncols) {
  const int processes = static_cast<int>(layout.size());
  auto overlap = [&](int from, int to, long long& lo, long long& hi) {
    const share_layout& f = layout[static_cast<size_t>(from)];
    const share_layout& t = layout[static_cast<size_t>(to)];
    lo = std::max(f.first_cell, (t.want_first - 1) * ncols);
    hi = std::min(f.first_cell + f.cells, t.want_last * ncols);
    return lo < hi;
  };
  std::vector<MPI_Request> requests;
  std::vector<MPI_Datatype> types;
  long long lo = 0;
  long long hi = 0;
  for (int from = 0; from < processes; ++from) {
    if (from == me || !overlap(from, me, lo, hi)) continue;
    int tag = 0;
    for (long long at = lo; at < hi; at += MESSAGE_VALUES, ++tag) {
      types.push_back(cells_type(grid, at, std::min(hi, at + MESSAGE_VALUES), ncols));
      requests.emplace_back();
      MPI_Irecv(MPI_BOTTOM, 1, types.back(), from, tag, MPI_COMM_WORLD, &requests.back());
    }
  }
  const long long mine = layout[static_cast<size_t>(me)].first_cell;
  for (int to = 0; to < processes; ++to) {
    if (!overlap(me, to, lo, hi)) continue;
    if (to == me) {
      copy_cells(share.values.data() + (lo - mine), grid, lo, hi, ncols);
      continue;
    }
    int tag = 0;
    for (long long at = lo; at < hi; at += MESSAGE_VALUES, ++tag) {
      const long long n = std::min(hi - at, MESSAGE_VALUES);
      requests.emplace_back();
      MPI_Isend(share.values.data() + (at - mine), static_cast<int>(n), MPI_DOUBLE, to, tag,
                MPI_COMM_WORLD, &requests.back());
    }
  }
  MPI_Waitall(static_cast<int>(requests.size()), requests.data(), MPI_STATUSES_IGNORE);
  for (MPI_Datatype& type : types) MPI_Type_free(&type);
}

}  // namespace

text_share parse_text_share(std::string_view bytes, bool starts_in_word) {
  text_share share;
  share.values.reserve(bytes.size() / 2 + 1);  // a word and a separator at least
  const char* p = bytes.data();
  const char* end = p + bytes.size();
  if (starts_in_word)
    while (p < end && !is_space(*p)) ++p;
  for (;;) {
    while (p < end && is_space(*p)) ++p;
    if (p == end) break;
    const char* word = p;
    while (p < end && !is_space(*p)) ++p;
    if (share.first_bad < 0) {
      double value = 0;
      if (parse_number(std::string_view(word, static_cast<size_t>(p - word)), value))
        share.values.push_back(value);
      else
        share.first_bad = share.words;
    }
    ++share.words;
  }
  return share;
}

std::string text_cell_failure_text(const std::string& path, long long index, int ncols) {
  return "error reading ascii grid " + path + " in ASCII-Format in row " +
         std::to_string(index / ncols + 1) + ", col " + std::to_string(index % ncols + 1);
}

file_failure read_text_body_parallel(const std::string& path, long long body_offset,
                                     grid_matrix& grid, int want_first, int want_last, int nrows,
                                     int ncols, const std::function<file_failure()>& prepare,
                                     bool process_0_parses) {
  int me = 0;
  int processes = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &me);
  MPI_Comm_size(MPI_COMM_WORLD, &processes);

  // Any process that cannot open or read the file stops all of them here.
  file_failure failure;
  MPI_File file;
  const int opened =
      MPI_File_open(MPI_COMM_WORLD, path.c_str(), MPI_MODE_RDONLY, MPI_INFO_NULL, &file);
  if (opened != MPI_SUCCESS)
    failure = {22, "error reading ascii grid " + path + mpi_error_text(opened)};
  std::string bytes;
  bool starts_in_word = false;
  if (failure.code == 0) {
    MPI_Offset size = 0;
    MPI_File_get_size(file, &size);
    const long long body = std::max(0LL, static_cast<long long>(size) - body_offset);
    // Without process 0, share k goes to process k + 1; process 0's is empty.
    const bool skip_0 = !process_0_parses && processes > 1;
    const long long parsers = skip_0 ? processes - 1 : processes;
    const long long share = skip_0 ? me - 1 : me;
    const long long per = body / parsers;
    const long long extra = body % parsers;
    const long long begin =
        share < 0 ? body_offset : body_offset + per * share + std::min<long long>(share, extra);
    const long long end = share < 0 ? begin : begin + per + (share < extra ? 1 : 0);
    const bool has_before = begin > body_offset && begin < end;
    if (!read_share(file, begin, end, size, has_before, bytes))
      failure = {22, "error reading ascii grid " + path};
    if (has_before) {
      starts_in_word = !is_space(bytes.front());
      bytes.erase(0, 1);
    }
    const int closed = MPI_File_close(&file);
    if (closed != MPI_SUCCESS && failure.code == 0)
      failure = {23, "error closing grid " + path + mpi_error_text(closed)};
  }
  // Parsed before the processes agree, so that what prepare does on one
  // process overlaps the parsing on the others (the words of a share that
  // failed to read are never used).
  text_share share = parse_text_share(bytes, starts_in_word);
  std::string().swap(bytes);
  if (prepare) {
    const file_failure prepared = prepare();
    if (prepared.code != 0) failure = prepared;
  }
  failure = agreed_failure(failure);
  if (failure.code != 0) return failure;

  // Where this share's words stand in the body, and the first cell that fails.
  long long first_word = 0;
  MPI_Exscan(&share.words, &first_word, 1, MPI_LONG_LONG, MPI_SUM, MPI_COMM_WORLD);
  if (me == 0) first_word = 0;
  const long long bad = share.first_bad >= 0 ? first_word + share.first_bad : LLONG_MAX;
  long long first_bad = LLONG_MAX;
  MPI_Allreduce(&bad, &first_bad, 1, MPI_LONG_LONG, MPI_MIN, MPI_COMM_WORLD);
  long long total = 0;
  MPI_Allreduce(&share.words, &total, 1, MPI_LONG_LONG, MPI_SUM, MPI_COMM_WORLD);
  const long long cells = static_cast<long long>(nrows) * ncols;
  // A missing word fails at the first cell after the last word.
  const long long first_failing = std::min(first_bad, total);
  if (first_failing < cells) return {22, text_cell_failure_text(path, first_failing, ncols)};

  share_layout mine;
  mine.first_cell = first_word;
  mine.cells = std::clamp(cells - first_word, 0LL, static_cast<long long>(share.values.size()));
  if (want_first <= want_last) {
    mine.want_first = want_first;
    mine.want_last = want_last;
  }
  std::vector<share_layout> layout(static_cast<size_t>(processes));
  MPI_Allgather(&mine, 4, MPI_LONG_LONG, layout.data(), 4, MPI_LONG_LONG, MPI_COMM_WORLD);
  distribute_cells(layout, me, share, grid, ncols);
  return {};
}
