// The static input grids of a run: the definitions of the zone grid, the
// elevation model and the standard grids ("[zone_grid]", "[elevation_model]",
// "[standard_grids]"), the header of the zone-grid file that fixes the grid
// geometry, and the set-up stages that read, fill, divide and distribute them.
#include <mpi.h>

#include <cerrno>
#include <cstdio>
#include <sstream>
#include <string>
#include <utility>

#include "modelbase/diagstream.h"
#include "modelbase/gridfile_format.h"
#include "modelbase/signals.h"
#include "modelbase/gridstore.h"
#include "modelbase/textutil.h"
#include "settings/defltuzr.h"

namespace {

constexpr int WATCHED_START = 9999;  // last watched calendar value before the first step

std::string format_index(const char* format, int i) {
  char text[256];
  std::snprintf(text, sizeof text, format, i);
  return text;
}

// The text after the first "=" that follows key in text; false when the key
// does not occur (an occurring key without "=" gives an empty value).
bool key_value(const std::string& text, const char* key, std::string& value) {
  const size_t at = text.find(key);
  if (at == std::string::npos) return false;
  const size_t equals = text.find('=', at);
  value = equals == std::string::npos ? std::string() : text.substr(equals + 1);
  return true;
}

template <class T>
void read_key(const std::string& text, const char* key, T& target) {
  std::string value;
  if (!key_value(text, key, value)) return;
  std::istringstream in(value);
  T read{};
  if (in >> read) target = read;
}

}  // namespace

bool parse_standard_grid_keys(const std::string& text, standard_grid_line& grid) {
  std::string value;
  const bool has_fillcode = key_value(text, "fillcode", value);
  read_key(text, "fillcode", grid.fill_code);
  read_key(text, "readcode", grid.read_code);
  read_key(text, "defaultValue", grid.default_value);
  read_key(text, "writecode", grid.write_code);
  grid.output_name = grid.file_name;
  read_key(text, "outname", grid.output_name);
  grid.has_statistics = key_value(text, "statfile", value);
  if (grid.has_statistics) {
    grid.statistics_file.clear();
    read_key(text, "statfile", grid.statistics_file);
  }
  read_key(text, "statcode", grid.statistics_code);
  if (key_value(text, "periodicity", value)) {
    std::istringstream in(value);
    int n = 0;
    int m = 0;
    std::string unit;
    if (in >> n) {
      grid.period_count = n;
      if (in >> unit) {
        grid.period_unit = unit;
        if (in >> m) grid.step_number = m;
      }
    }
    if (key_value(text, "persistent", value)) {
      std::istringstream flags(value);
      int persistent = 1;
      int duration = 0;
      if (flags >> persistent) {
        grid.persistent = persistent != 0;
        if (flags >> duration) grid.duration = duration;
      }
    }
  }
  return has_fillcode;
}

void defaultini::read_standard_grids() {
  std::FILE* file = control_file();
  grid_store& s = *store;

  static const char* const fixed_sections[2] = {"[zone_grid]", "[elevation_model]"};
  for (int e = 1; e <= 2; ++e) {
    seek_section(fixed_sections[e - 1], true);
    std::string file_name;
    read_value(file, "%s", file_name, " Name for ", section_buffer);
    s[e].file_name = file_name;
    s[e].grid_name = fixed_sections[e - 1];
    s[e].first_file_name = file_name;
    s[e].owns_first_file_name = 1;
  }
  // The elevation model is read from its file like a standard grid; neither
  // fixed grid is ever re-read, so neither needs a saved copy.
  s[2].standard.read_code = 1;
  s[1].standard.persistent = 1;
  s[2].standard.persistent = 1;

  seek_section("[standard_grids]", true);
  int count = 0;
  read_value(file, "%d", count, "couner/number of grids ", section_buffer);
  registered_grids = count > 0 ? count : 0;
  // The standard grids take entries 3 to count + 2 of the store, whose last
  // usable entry is 999.
  if (registered_grids + 2 >= GRID_STORE_FULL)
    fail_fatal(*diag, GRID_STORE_FULL_CODE, "no free grid in memory,(max. ", GRID_STORE_FULL, ")!");

  for (int i = 1; i <= count; ++i) {
    standard_grid_line grid;
    const long position = std::ftell(file);
    const bool old_form = scan_one(file, grid.file_name) == 1 &&
                          scan_one(file, grid.grid_name) == 1 &&
                          scan_one(file, grid.fill_code) == 1;
    if (!old_form) {
      std::fseek(file, position, SEEK_SET);
      grid = standard_grid_line();
      if (scan_one(file, grid.file_name) != 1 || scan_one(file, grid.grid_name) != 1)
        fail_control_file(format_index("\nerror reading a grid name or identifier %d in\n", i),
                          name);
    }
    std::string key_text;
    read_line_rest(file, key_text);
    if (!parse_standard_grid_keys(key_text, grid) && !old_form)
      fail_control_file(
          format_index("\nerror reading the fillcode for standard grid %d (found neither in old "
                       "nor in new style standard grid definition) in\n",
                       i),
          name);

    grid_entry& entry = s[i + 2];
    entry.file_name = grid.file_name;
    entry.grid_name = grid.grid_name;
    entry.first_file_name = grid.output_name;
    entry.owns_first_file_name = 1;
    standard_grid_state& st = entry.standard;
    st.fill_code = grid.fill_code;
    st.read_code = grid.read_code;
    st.default_value = grid.default_value;
    st.write_code_as_read = grid.write_code;
    st.statistics_file_name = grid.has_statistics ? grid.statistics_file : std::string();
    st.statistics_code = grid.statistics_code;
    st.period_count = grid.period_count;
    st.unit = grid.period_unit;
    st.step_number = grid.step_number;
    st.persistent = grid.persistent ? 1 : 0;
    st.duration = grid.duration;
    st.replaced = 0;
    st.period_counter = 0;
    st.step_counter = 0;
    st.last_watched = WATCHED_START;
    st.dated_name.clear();
  }
}

void defaultini::read_grid_header(int& cols, int& rows, double& xll, double& yll, double& size,
                                  double& nodata_value) {
  ignore_sigint();
  // The header is looked for where the zone grid itself is read from.
  std::string path = (*store)[1].file_name.value_or(std::string());
  if (input_directory != nullptr) prefix_directory(*input_directory, path);
  file_handle file(std::fopen(path.c_str(), "rb"));
  if (!file) fail_fatal(*diag, 21, "error opening ", path, errno_text(errno));

  unsigned char probe[FORMAT_PROBE_BYTES];
  const size_t got = std::fread(probe, 1, sizeof probe, file.get());
  const grid_format format = detect_grid_format(probe, got);
  grid_header header;
  if (format == grid_format::text) {
    std::rewind(file.get());
    text_scanner scanner(file.get());
    const text_header_read read = read_text_grid_header(scanner, header);
    if (read.bad_word) fail_fatal(*diag, 22, header_word_text(read, path));
    if (read.failed_pair != 0) fail_fatal(*diag, 22, "error reading ", path);
  } else if (format == grid_format::binary_double) {
    if (got < FORMAT_PROBE_BYTES)
      fail_fatal(*diag, 22, "error reading double value from the header of ", path);
    header = decode_binary_header(probe, format);
  } else if (format == grid_format::binary_single) {
    const size_t singles = got / value_bytes(format);
    if (singles < BINARY_HEADER_COUNT)
      fail_fatal(*diag, 22, "error reading double value #", singles + 1, " from the header of ",
                 path);
    header = decode_binary_header(probe, format);
  } else {
    // A GIF image has no measures of its own: it cannot give the model's.
    fail_fatal(*diag, 22, "could not recognise file format (ascii, double or double) for ", path);
  }
  // The measures size every grid of the run: nothing impossible, and no more
  // cells than the file can hold.
  const std::string problem = declared_grid_text(format, header, file.get(), path);
  if (!problem.empty()) fail_fatal(*diag, 22, problem);
  cols = static_cast<int>(header.ncols);
  rows = static_cast<int>(header.nrows);
  xll = header.xllcorner;
  yll = header.yllcorner;
  size = header.cellsize;
  nodata_value = header.nodata;
  if (std::fclose(file.release()) != 0)
    fail_fatal(*diag, 23, "error closing grid ", path, errno_text(errno));
  disarm_sigint();
}

grid_matrix& settings_part::create_grid(int index, const std::string& file_name,
                                        const std::string& grid_name, int first, int last) const {
  grid_matrix& grid = own_grid(index);
  grid = settings.matrix_for_overwrite(first, last, 1, ncols(), nrows());
  for (int r = first; r <= last; ++r) std::fill(grid[r] + 1, grid[r] + ncols() + 1, nodata());
  settings.register_grid(index, file_name, &grid, nullptr, 0, grid_name, 0, first, last);
  return grid;
}

void defaultini::held_rows(int& first, int& last) const {
  if (rank == 0) {
    first = 1;
    last = nrows;
    return;
  }
  first = first_row > 1 ? first_row - 1 : first_row;
  last = last_row < nrows ? last_row + 1 : last_row;
}

grid_matrix& defaultini::own_grid(int index) { return grids[index]; }

void defaultini::stage_zone_grid_and_division() {
  grid_store& s = *store;
  zone_grid = nullptr;
  elevation_grid = nullptr;
  ice_firn_grid = nullptr;

  double header[4] = {0, 0, 0, NODATA};
  int measures[2] = {0, 0};
  if (rank == 0)
    read_grid_header(measures[0], measures[1], header[0], header[1], header[2], header[3]);
  MPI_Bcast(&measures[0], 1, MPI_INT, 0, MPI_COMM_WORLD);
  MPI_Bcast(&measures[1], 1, MPI_INT, 0, MPI_COMM_WORLD);
  for (double& value : header) MPI_Bcast(&value, 1, MPI_DOUBLE, 0, MPI_COMM_WORLD);
  ncols = measures[0];
  nrows = measures[1];
  xllcorner = header[0];
  yllcorner = header[1];
  cellsize = header[2];
  nodata = header[3];
  first_row = 1;
  last_row = nrows;

  const int links = find_grid("river_links", 1);
  // All processes parse the text together; process 0 gets the whole grids.
  read_grid_to_process_0(*s[1].file_name, own_grid(1), true, s[1].standard.default_value, false);
  if (rank == 0) {
    grid_matrix& zone = own_grid(1);
    register_grid(1, *s[1].file_name, &zone, nullptr, 0, "[zone_grid]",
                  static_cast<unsigned>(s[1].standard.write_code_as_read), 1, nrows);
    zone_grid = &zone;
  }
  if (links > 0) {
    read_grid_to_process_0(*s[links].file_name, own_grid(links), true,
                           s[links].standard.default_value, true);
    if (rank == 0)
      register_grid(links, *s[links].file_name, &own_grid(links), nullptr, 0, "river_links",
                    static_cast<unsigned>(s[links].standard.write_code_as_read), 1, nrows);
  }

  division.create_mpi_regions(*this, ncols, nrows, nodata, cell_counts, halo_send_list,
                              halo_receive_list, first_row, last_row);
  mpi_regions = &division.regions;
  mpi_helper = &division.helper;
  halo_send = &halo_send_list;
  halo_receive = &halo_receive_list;
  registered_grids += 3;
}

void defaultini::stage_zone_table_and_distribution() {
  grid_store& s = *store;
  const int links = find_grid("river_links", 1);
  if (process_count > 1) {
    // Every process ranks the zones over its own cells: the zone grid goes
    // out first.
    distribute_zone_grids(links);
    zones_table.rank_zone_grid_by_bands(
        *this, s[1].file_name.value_or(std::string()), own_grid(1), division.regions,
        zone_grid_frame{ncols, nrows, nodata, cellsize, first_row, last_row});
  } else {
    zones_table.rank_zone_grid(*this, s, nullptr, ncols, nrows, nodata, cellsize, first_row,
                               last_row);
  }
  zones = &zones_table.records;
  zone_index = &zones_table.code_to_index;
  strips = &zones_table.strips;
  zone_count = zones_table.zone_count;
  max_zone_code = zones_table.max_zone_code;

  char regions_name[64];
  std::snprintf(regions_name, sizeof regions_name, "MPIRegions_%d", 0);
  // Text is formatted and written by every process for its band.
  if (write_ascii_grids != 0 && process_count > 1)
    write_text_grid_bands(regions_name, division.regions);
  else if (rank == 0)
    write_grid(regions_name, division.regions, write_ascii_grids != 0, write_double_grids != 0);
  if (process_count == 1) distribute_zone_grids(links);
}

void defaultini::distribute_zone_grids(int links) {
  grid_store& s = *store;
  if (rank != 0) {
    int first = 0;
    int last = 0;
    held_rows(first, last);
    for (int index : {1, links}) {
      if (index <= 0) continue;
      grid_matrix& grid = own_grid(index);
      grid = matrix(first, last, 1, ncols, nrows);
      for (int r = first; r <= last; ++r)
        for (int c = 1; c <= ncols; ++c) grid[r][c] = nodata;
      const std::string grid_name = s[index].grid_name.value_or(std::string());
      // Process 0 wrote a grid of units digit 8 when it registered the whole
      // grid; a second, collective write from here would wait for process 0
      // in vain.
      auto write_now = std::exchange(s.write_at_registration, nullptr);
      register_grid(index, grid_name, &grid, nullptr, 0, grid_name,
                    static_cast<unsigned>(s[index].standard.write_code_as_read), first, last);
      s.write_at_registration = std::move(write_now);
    }
    zone_grid = &own_grid(1);
  }
  for (int index : {1, links}) {
    if (index <= 0) continue;
    scatter_grid(index);
    exchange_halo(index);
  }
}

void defaultini::stage_standard_grids() {
  grid_store& s = *store;
  MPI_Barrier(MPI_COMM_WORLD);
  int first = 0;
  int last = 0;
  held_rows(first, last);
  const grid_matrix& zone = *zone_grid;

  for (int i = 2; i <= registered_grids + 2; ++i) {
    grid_entry& entry = s[i];
    if (entry.grid != nullptr || entry.grid_name.value_or(std::string()) == "river_links")
      continue;
    const standard_grid_state& st = entry.standard;
    const std::string grid_name = entry.grid_name.value_or(std::string());
    const unsigned write_code = static_cast<unsigned>(st.write_code_as_read);
    grid_matrix& grid = own_grid(i);
    if (st.read_code > 0) {
      const std::string file_name = entry.file_name.value_or(std::string());
      read_grid(file_name, grid, st.fill_code, true, true, st.default_value, true, true, false,
                true);
      register_grid(i, file_name, &grid, nullptr, 0, grid_name, write_code, grid.first_row(),
                    grid.last_row());
    } else {
      grid = matrix(first, last, 1, ncols, nrows);
      for (int r = first; r <= last; ++r) {
        const double* zone_row = zone[r];
        for (int c = 1; c <= ncols; ++c)
          grid[r][c] = zone_row != nullptr && zone_row[c] != nodata ? st.default_value : nodata;
      }
      register_grid(i, grid_name, &grid, nullptr, 0, grid_name, write_code, first, last);
      exchange_halo(i);
    }
    if (st.persistent == 0) entry.standard.saved_grid = grid.clone();
  }

  diag_entry(*diag, "before reading variable grids", rank);
  MPI_Barrier(MPI_COMM_WORLD);
  read_variable_grids();
}
