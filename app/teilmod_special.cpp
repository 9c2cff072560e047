#include "app/teilmod_special.h"

#include <mpi.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "modelbase/diagstream.h"
#include "modelbase/signals.h"
#include "modelbase/gridstore.h"
#include "modelbase/textutil.h"

namespace {

constexpr int MISSING_KEY = 104;
constexpr int COORDINATE_COUNTS_DIFFER = 1006;
constexpr int LEVEL_COUNT_WRONG = 1007;
constexpr int FILE_NOT_CREATED = 1007;
constexpr int POINT_OUTSIDE = 1008;
constexpr int FILE_NOT_APPENDED = 65;
constexpr int WRITE_FAILED = 18;
constexpr int LAST_SEARCHED_ENTRY = 999;
constexpr int64_t BYTES_PER_VALUE = 8;  // [bytes]
constexpr int64_t BYTES_PER_ROW = 32;   // [bytes] the date of a row
constexpr size_t LINE_BUFFER = CONTROL_LINE_PIECE + 1;

// Grids whose values the modules compute in the sub-step loop.
const char* const SUBSTEP_FLUXES[] = {"baseflow",
                                      "irrigation_amounts",
                                      "macropore_infiltration",
                                      "groundwater_recharge",
                                      "Capillar_Uprise",
                                      "Percolation",
                                      "DirectRunoffSiltingUp",
                                      "directflow",
                                      "interflow",
                                      "infiltration_excess",
                                      "total_infiltration",
                                      "drainage_flow",
                                      "river_infiltration",
                                      "river_exfiltration",
                                      "q_down",
                                      "SurfaceRoutingFluxes",
                                      "SurfaceRoutingHead",
                                      "SurfaceRoutingQIn",
                                      "SurfaceRoutingQOut",
                                      "gw_flow_x_",
                                      "gw_flow_y_",
                                      "gw_leakage_"};

// The text between the first "=" after from and the first ";" after it.
bool value_text(const std::string& text, size_t from, std::string& value) {
  const size_t equals = text.find('=', from);
  if (equals == std::string::npos) return false;
  const size_t end = text.find(';', equals + 1);
  if (end == std::string::npos) return false;
  value = text.substr(equals + 1, end - equals - 1);
  return true;
}

std::vector<std::string> list_pieces(const std::string& text, const std::string& key) {
  std::vector<std::string> pieces;
  const size_t at = text.rfind(key);
  std::string value;
  if (at == std::string::npos || !value_text(text, at, value)) return pieces;
  std::string piece;
  for (char c : value) {
    if (c == ' ' || c == '\t' || c == ',' || c == ';') {
      if (!piece.empty()) pieces.push_back(piece);
      piece.clear();
    } else {
      piece += c;
    }
  }
  if (!piece.empty()) pieces.push_back(piece);
  return pieces;
}

const char* const SECTION_ERROR = "Error in section [special_output]: ";

// A key without its "key = value;" stops the section; where says in which
// line or block it was sought.
[[noreturn]] void fail_missing_key(DiagStream& diag, const char* key, const std::string& where) {
  fail_fatal(diag, MISSING_KEY, SECTION_ERROR, "missing key ", key, " (", key, " = value;) ",
             where);
}

std::string block_place(int block) { return "in block " + std::to_string(block); }
std::string entity_place(int entity, int block) {
  return "in entity " + std::to_string(entity) + " of block " + std::to_string(block);
}

// One control-file line of at most CONTROL_LINE_PIECE characters, its line
// end included; false at the end of the file.
bool read_control_line(std::FILE* file, std::string& line) {
  char buffer[LINE_BUFFER];
  if (file == nullptr || std::fgets(buffer, sizeof buffer, file) == nullptr) return false;
  line = buffer;
  return true;
}

}  // namespace

// ---- block text ----

bool special_single_value(const std::string& text, const std::string& key, std::string& value) {
  const size_t at = text.find(key);
  std::string raw;
  if (at == std::string::npos || !value_text(text, at, raw)) return false;
  size_t start = 0;
  while (start < raw.size() && std::isspace(static_cast<unsigned char>(raw[start]))) ++start;
  size_t end = start;
  while (end < raw.size() && !std::isspace(static_cast<unsigned char>(raw[end]))) ++end;
  value = raw.substr(start, end - start);
  return true;
}

std::vector<double> special_number_list(const std::string& text, const std::string& key) {
  std::vector<double> numbers;
  for (const std::string& piece : list_pieces(text, key))
    numbers.push_back(std::atof(piece.c_str()));
  return numbers;
}

std::vector<int> special_integer_list(const std::string& text, const std::string& key) {
  std::vector<int> numbers;
  for (const std::string& piece : list_pieces(text, key))
    numbers.push_back(std::atoi(piece.c_str()));
  return numbers;
}

bool special_take_block(std::string& text, std::string& block) {
  const size_t open = text.find('{');
  if (open == std::string::npos) return false;
  const size_t close = text.find('}', open + 1);
  if (close == std::string::npos) {
    block = text.substr(open + 1);
    text.clear();
  } else {
    block = text.substr(open + 1, close - open - 1);
    text.erase(0, close + 1);
  }
  return true;
}

bool special_substep_id(const std::string& id) {
  for (const char* flux : SUBSTEP_FLUXES)
    if (id.find(flux) != std::string::npos) return true;
  return false;
}

int64_t special_rows_per_buffer(int point_count) {
  const int64_t rows = SPECIAL_OUTPUT_BUFFER_BYTES /
                       ((static_cast<int64_t>(point_count) + 1) * BYTES_PER_VALUE + BYTES_PER_ROW);
  return rows < 1 ? 1 : rows;
}

// ---- sampling ----

std::optional<double> special_point_value(const special_sampling_view& view,
                                          const grid_entry* entry, int row, int col, bool has_level,
                                          int level) {
  const grid_matrix* regions = view.regions;
  int owner = -1;
  if (regions != nullptr && !regions->empty() && row >= regions->first_row() &&
      row <= regions->last_row() && (*regions)[row] != nullptr && col >= 0 &&
      col <= regions->last_col())
    owner = static_cast<int>((*regions)[row][col]);
  if (owner != view.rank || entry == nullptr) return std::nullopt;
  const bool held = row >= view.first_row && row <= view.last_row && col >= 1 && col <= view.ncols;
  if (entry->stack != nullptr && has_level) {
    const stack_matrix& stack = *entry->stack;
    // A negative level, or one beyond what the stack holds, is no value.
    if (!held || level < 0 || level > entry->levels || level > stack.levels()) return std::nullopt;
    if (row < stack.first_row() || row > stack.last_row() || col > stack.last_col() ||
        stack[row] == nullptr)
      return std::nullopt;
    return stack[row][col][level];
  }
  // An entry that holds only a stack has no grid to read.
  if (!held || entry->grid == nullptr) return std::nullopt;
  const grid_matrix& grid = *entry->grid;
  if (row < grid.first_row() || row > grid.last_row() || col > grid.last_col() ||
      grid[row] == nullptr)
    return std::nullopt;
  return grid[row][col];
}

// ---- the module ----

SpecialOutputClass::SpecialOutputClass(int& status, DiagStream* diag_stream,
                                       statistics_registry* statistics, int statistics_size,
                                       const std::string& section, grid_store* shared_store,
                                       const settings_context& settings, int substeps_per_step)
    : teilmodellklasse(diag_stream, section, shared_store, settings, substeps_per_step, 0) {
  registry = statistics;
  registry_size = statistics_size;
  file_list.clear();
  numfiles = 0;
  substep_count = substeps_per_step;
  status = 0;
  if (flow_control == 0) return;
  try {
    if (store != nullptr && (mpi_regions == nullptr || mpi_helper == nullptr))
      find_division_grids();
    write_source_banner(*diag, "teilmod", __DATE__, __TIME__);
    read_blocks();
  } catch (int code) {
    status = code;
  } catch (const std::exception& e) {
    // Still a status, but never one without a word of its cause.
    diag_entry(*diag, "FATAL: ", SECTION_ERROR, e.what());
    status = MISSING_KEY;
  } catch (...) {
    diag_entry(*diag, "FATAL: ", SECTION_ERROR, "unknown failure");
    status = MISSING_KEY;
  }
  control.reset();
}

void SpecialOutputClass::read_blocks() {
  std::FILE* file = control.get();
  std::string line;
  std::string count_text;
  if (!read_control_line(file, line) || !special_single_value(line, "numfiles", count_text))
    fail_missing_key(*diag, "numfiles", "in the line after the time interval");
  numfiles = std::atoi(count_text.c_str());
  for (int i = 0; i < numfiles; ++i) {
    // The opening line counts as the block's "{", whatever it holds.
    std::string block;
    if (!read_control_line(file, block))
      fail_fatal(*diag, MISSING_KEY, SECTION_ERROR, "the control file ends before block ", i + 1,
                 " of ", numfiles);
    int depth = 1;
    while (depth >= 1) {
      if (!read_control_line(file, line))
        fail_fatal(*diag, MISSING_KEY, SECTION_ERROR, "the control file ends inside block ",
                   i + 1, " of ", numfiles, " (a } is missing)");
      block += line;
      if (line.find('{') != std::string::npos) ++depth;
      if (line.find('}') != std::string::npos) --depth;
    }
    file_list.push_back(build_file(block, i + 1));
  }
}

special_output_file SpecialOutputClass::build_file(const std::string& block, int block_number) {
  special_output_file file;
  file.diag = diag;
  file.store = store;
  file.substeps = substep_count;
  if (!special_single_value(block, "header", file.header))
    fail_missing_key(*diag, "header", block_place(block_number));
  if (!special_single_value(block, "filename", file.file_name))
    fail_missing_key(*diag, "filename", block_place(block_number));
  if (output_directory != nullptr) prefix_directory(*output_directory, file.file_name);
  // The block's own "{" comes first, so the first entity's text also holds
  // the header and file-name lines.
  std::string rest = block;
  while (rest.find("entity") != std::string::npos) {
    std::string text;
    const int entity_number = static_cast<int>(file.entities.size()) + 1;
    if (!special_take_block(rest, text))
      fail_fatal(*diag, MISSING_KEY, SECTION_ERROR, "no { for entity ", entity_number,
                 " of block ", block_number);
    file.entities.push_back(build_entity(text, file, entity_place(entity_number, block_number)));
  }
  for (const special_output_entity& entity : file.entities) file.point_count += entity.point_count;
  file.rows_per_buffer = special_rows_per_buffer(file.point_count);
  file.dates.assign(static_cast<size_t>(file.rows_per_buffer + 1) * 4, 0);
  file.values.assign(
      static_cast<size_t>(file.rows_per_buffer + 1) * static_cast<size_t>(file.point_count + 1),
      0.0);
  file.new_row = true;
  write_file_head(file);
  return file;
}

special_output_entity SpecialOutputClass::build_entity(const std::string& text,
                                                       special_output_file& file,
                                                       const std::string& place) {
  special_output_entity entity;
  entity.diag = diag;
  entity.store = file.store;
  entity.substeps = substep_count;
  entity.xllcorner = xllcorner;
  entity.yllcorner = yllcorner;
  entity.cellsize = cellsize;
  entity.ncols = ncols;
  entity.nrows = nrows;
  if (!special_single_value(text, "ID", entity.id)) fail_missing_key(*diag, "ID", place);
  if (!special_single_value(text, "Symbol", entity.symbol))
    fail_missing_key(*diag, "Symbol", place);
  entity.x = special_number_list(text, "Xcoords");
  entity.y = special_number_list(text, "Ycoords");
  entity.levels = special_integer_list(text, "Level");
  if (entity.x.size() != entity.y.size())
    fail_fatal(*diag, COORDINATE_COUNTS_DIFFER,
               "Error in section [special_output]: count of X coordinates dos not match the "
               "number of Y coordinates for entity ",
               entity.id);
  if (!entity.levels.empty() && entity.levels.size() != entity.x.size())
    fail_fatal(*diag, LEVEL_COUNT_WRONG,
               "Error in section [special_output]: number of levels dos not match the number of "
               "X and Y coordinates for entity ",
               entity.id, ". EIther each point has a level or none has.");
  entity.point_count = static_cast<int>(entity.x.size());

  // A cell includes its right and its lower edge; row 1 is the northern row.
  for (int i = 0; i < entity.point_count; ++i) {
    const double x = entity.x[static_cast<size_t>(i)];
    const double col = std::ceil((x - xllcorner) / cellsize);
    if (!(col >= 1 && col <= ncols))
      fail_fatal(*diag, POINT_OUTSIDE, "Error in section [special_output]: x-coordinate ", x,
                 ", defined as point ", i, " for entity ", entity.id,
                 ", is located outside the actual grid.");
    entity.cols.push_back(static_cast<int>(col));
  }
  for (int i = 0; i < entity.point_count; ++i) {
    const double y = entity.y[static_cast<size_t>(i)];
    const double row = nrows - std::floor((y - yllcorner) / cellsize);
    if (!(row >= 1 && row <= nrows))
      fail_fatal(*diag, POINT_OUTSIDE, "Error in section [special_output]: y-coordinate ", y,
                 ", defined as point ", i, " for entity ", entity.id,
                 ", is located outside the actual grid.");
    entity.rows.push_back(static_cast<int>(row));
  }

  // The search stops at the first entry after which no grid follows.
  entity.store_index = 0;
  if (store != nullptr) {
    for (int i = 1; i <= LAST_SEARCHED_ENTRY; ++i) {
      const grid_entry& entry = (*store)[i];
      if (entry.grid_name.has_value() && *entry.grid_name == entity.id) {
        entity.store_index = i;
        break;
      }
      if (i == LAST_SEARCHED_ENTRY || (*store)[i + 1].grid == nullptr) break;
    }
  }
  entity.substep_flag = substep_count > 1 && special_substep_id(entity.id);
  return entity;
}

void SpecialOutputClass::write_file_head(const special_output_file& file) {
  int created = 1;
  int error = 0;
  if (rank == 0) {
    file_handle out(std::fopen(file.file_name.c_str(), "w"));
    created = out ? 1 : 0;
    if (!out) error = errno;
    if (out) {
      std::FILE* f = out.get();
      std::fputs("YY\tMM\tDD\tHH", f);
      for (const special_output_entity& e : file.entities)
        for (int i = 0; i < e.point_count; ++i) {
          std::fprintf(f, "\t%s/%d/%d", e.symbol.c_str(), e.cols[static_cast<size_t>(i)],
                       e.rows[static_cast<size_t>(i)]);
          if (!e.levels.empty()) std::fprintf(f, "/%d", e.levels[static_cast<size_t>(i)]);
        }
      std::fprintf(f, "\n%s\n", file.header.c_str());
      std::fputs("YY\tMM\tDD\tHH", f);
      for (const special_output_entity& e : file.entities)
        for (int i = 0; i < e.point_count; ++i) {
          std::fprintf(f, "\t%s/%lg/%lg", e.symbol.c_str(), e.x[static_cast<size_t>(i)],
                       e.y[static_cast<size_t>(i)]);
          if (!e.levels.empty()) std::fprintf(f, "/%d", e.levels[static_cast<size_t>(i)]);
        }
      std::fputs("\n", f);
      // A head that did not reach the disk whole is no head.
      const bool write_failed = std::ferror(f) != 0;
      if (write_failed) error = errno;
      const bool close_failed = std::fclose(out.release()) != 0;
      if (close_failed && !write_failed) error = errno;
      if (write_failed || close_failed) created = 0;
    }
  }
  // Every process fails together, so that none goes on alone.
  MPI_Bcast(&created, 1, MPI_INT, 0, MPI_COMM_WORLD);
  if (created == 0)
    fail_fatal(*diag, FILE_NOT_CREATED, "error opening file for special output of file\n",
               file.file_name, errno_text(error),
               "\n-> check file name, disk space or user rights");
}

void SpecialOutputClass::sample_step(int64_t hour, int64_t day, int64_t month, int64_t year,
                                     int is_substep, int k) {
  for (special_output_file& file : file_list)
    sample_file(file, hour, day, month, year, is_substep, k);
}

void SpecialOutputClass::sample_file(special_output_file& file, int64_t hour, int64_t day,
                                     int64_t month, int64_t year, int is_substep, int k) {
  if (file.new_row) {
    ++file.rows_used;
    int64_t* date = file.dates.data() + file.rows_used * 4;
    date[0] = year;
    date[1] = month;
    date[2] = day;
    date[3] = hour;
    file.new_row = false;
  }
  const special_sampling_view view{mpi_regions, rank, first_row, last_row, ncols};
  double* row = file.row_values(file.rows_used);
  int position = 1;
  for (const special_output_entity& entity : file.entities) {
    if (is_substep != 0 && !entity.substep_flag) {
      position += entity.point_count;
      continue;
    }
    const grid_entry* entry =
        entity.store_index > 0 && store != nullptr ? &(*store)[entity.store_index] : nullptr;
    const bool has_level = !entity.levels.empty();
    for (int i = 0; i < entity.point_count; ++i) {
      const auto p = static_cast<size_t>(i);
      const std::optional<double> value = special_point_value(
          view, entry, entity.rows[p], entity.cols[p], has_level, has_level ? entity.levels[p] : 0);
      double& slot = row[position + i];
      if (!value)
        slot = NODATA;
      else if (!entity.substep_flag)
        slot = *value;
      else if (is_substep != 0)
        slot = k <= 1 ? *value : slot + *value;
      // The step call leaves a summed value as the sub-steps made it.
    }
    position += entity.point_count;
  }
  if (is_substep == 0) {
    if (file.rows_used >= file.rows_per_buffer) file.write_rows(rank);
    file.new_row = true;
  }
}

void special_output_file::write_rows(int rank) {
  file_operation_guard guard(sigint_after::arm);
  file_handle out;
  int opened = 1;
  int error = 0;
  if (rank == 0) {
    diag_entry(*diag, "write ", file_name);
    out.reset(std::fopen(file_name.c_str(), "a"));
    opened = out ? 1 : 0;
    if (!out) error = errno;
  }
  // Every process takes part in the reductions below, so all fail together.
  MPI_Bcast(&opened, 1, MPI_INT, 0, MPI_COMM_WORLD);
  if (opened == 0)
    fail_fatal(*diag, FILE_NOT_APPENDED, "\nerror opening file ", file_name, errno_text(error));
  std::vector<double> combined(static_cast<size_t>(point_count) + 1, 0.0);
  for (int64_t r = 1; r <= rows_used; ++r) {
    const int64_t* date = dates.data() + r * 4;
    if (rank == 0)
      std::fprintf(out.get(), "%ld\t%ld\t%ld\t%ld", static_cast<long>(date[0]),
                   static_cast<long>(date[1]), static_cast<long>(date[2]),
                   static_cast<long>(date[3]));
    if (point_count > 0)
      MPI_Reduce(row_values(r) + 1, combined.data() + 1, point_count, MPI_DOUBLE, MPI_MAX, 0,
                 MPI_COMM_WORLD);
    if (rank == 0) {
      for (int i = 1; i <= point_count; ++i) std::fprintf(out.get(), "\t%g", combined[i]);
      std::fputs("\n", out.get());
    }
  }
  int written = 1;
  if (rank == 0) {
    // Rows that did not reach the disk (a full disk) are lost: that ends the
    // run instead of passing for written.
    const bool write_failed = std::ferror(out.get()) != 0;
    if (write_failed) error = errno;
    const bool close_failed = std::fclose(out.release()) != 0;
    if (close_failed && !write_failed) error = errno;
    written = write_failed || close_failed ? 0 : 1;
  }
  MPI_Bcast(&written, 1, MPI_INT, 0, MPI_COMM_WORLD);
  if (written == 0) fail_fatal(*diag, WRITE_FAILED, "write error ", file_name, errno_text(error));
  if (rank == 0)
    diag_entry(*diag, "(", (point_count * BYTES_PER_VALUE + BYTES_PER_ROW) * rows_used, " of ",
               SPECIAL_OUTPUT_BUFFER_BYTES, " buffer-bytes)");
  rows_used = 0;
}

void SpecialOutputClass::flush_outputs() {
  for (special_output_file& file : file_list)
    if (file.rows_used > 0) file.write_rows(rank);
}

void SpecialOutputClass::release() {
  file_list.clear();
  modelobject::release();
}
