// Reading a station file through the interpolator: a file of n stations
// (default 100) and r hourly rows (default 87600, ten years) is read row by
// row with read_next_record, as the time loop does. Prints the time of the
// set-up (header and start search), the time of the rows, and the number of
// buffer fills (each one open of the file; about 2 MiB of rows each).
//
//   bench_meteo_stations [stations] [rows] [directory]
#include <mpi.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "meteo/meteoint.h"
#include "modelbase/diagstream.h"
#include "modelbase/gridstore.h"
#include "modelbase/settings_context.h"

namespace {

bool leap(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Writes the station file: header, then one row per hour from 1.1.2001 0 h.
void write_station_file(const std::string& path, int stations, int64_t rows) {
  std::ofstream out(path, std::ios::binary);
  out << "benchmark stations\nYY MM DD HH";
  for (int j = 1; j <= stations; ++j) out << ' ' << 300 + 7 * j;
  out << "\nYY MM DD HH";
  for (int j = 1; j <= stations; ++j) out << ' ' << 1000 + 97 * (j % 10) * 100;
  out << "\nYY MM DD HH";
  for (int j = 1; j <= stations; ++j) out << ' ' << 2000 + 89 * (j / 10) * 100;
  out << "\nYY MM DD HH";
  for (int j = 1; j <= stations; ++j) out << " s" << j;
  out << '\n';
  static const int days[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int64_t year = 2001, month = 1, day = 1, hour = 0;
  std::string line;
  char number[32];
  for (int64_t k = 0; k < rows; ++k) {
    line = std::to_string(year) + ' ' + std::to_string(month) + ' ' + std::to_string(day) + ' ' +
           std::to_string(hour);
    for (int j = 1; j <= stations; ++j) {
      const double value = static_cast<double>((k * 31 + j * 17) % 4001) / 10.0 - 150.0;
      const auto end = std::to_chars(number, number + sizeof number, value).ptr;
      line += ' ';
      line.append(number, end);
    }
    line += '\n';
    out << line;
    if (++hour == 24) {
      hour = 0;
      const int length = days[month] + (month == 2 && leap(year) ? 1 : 0);
      if (++day > length) {
        day = 1;
        if (++month > 12) {
          month = 1;
          ++year;
        }
      }
    }
  }
}

struct release_input {
  void operator()(meteointerpol* input) const {
    input->release();
    delete input;
  }
};

}  // namespace

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  const int stations = argc > 1 ? std::atoi(argv[1]) : 100;
  const int64_t rows = argc > 2 ? std::atoll(argv[2]) : 87600;
  const std::filesystem::path dir =
      argc > 3 ? std::filesystem::path(argv[3])
               : std::filesystem::temp_directory_path() / "velmo_bench_meteo";
  std::filesystem::create_directories(dir);
  const std::string station_path = (dir / "stations.txt").string();
  write_station_file(station_path, stations, rows);
  const std::string control_path = (dir / "bench.ctl").string();
  std::ofstream(control_path)
      << "[temperature]\n1 method\n" << station_path
      << "\nnone.txt name of the regression file\nresult.asc\n0\n1\nnone.sta 0\n9999\n2\n0.5\n"
         "20000\n0\n1\n-100\n-90\n100\n90\n0\n";

  // A grid of 10 x 10 cells of 100 m, one zone.
  constexpr int N = 10;
  std::ostringstream console;
  DiagStream diag((dir / "bench_diag.xml").string(), 0, console, 0, 1);
  settings_context ctx;
  ctx.control_file = control_path;
  ctx.ncols = ctx.nrows = N;
  ctx.first_row = 1;
  ctx.last_row = N;
  ctx.cellsize = 100;
  ctx.start_date = model_date{2001, 1, 1, 0};
  ctx.end_date = model_date{2100, 1, 1, 0};
  std::vector<int> zone_index{0, 1};
  std::vector<zone_record> zones(2);
  zones[1].code = 1;
  zones[1].share = 1;
  ctx.zone_table = zone_table_view{&zone_index, &zones, 1, 1};
  memory_handling grids;
  grid_store store;
  grid_matrix zone = grids.matrix(1, N, 1, N, N);
  grid_matrix area = grids.matrix(1, N, 1, N, N);
  grid_matrix x = grids.matrix(1, N, 1, N, N);
  grid_matrix y = grids.matrix(1, N, 1, N, N);
  for (int r = 1; r <= N; ++r)
    for (int c = 1; c <= N; ++c) {
      zone[r][c] = area[r][c] = 1;
      x[r][c] = 100.0 * (c - 1);
      y[r][c] = 100.0 * (N - r);
    }
  const char* names[4] = {"zonegrid", "RelCellArea", "CoordX", "CoordY"};
  grid_matrix* held[4] = {&zone, &area, &x, &y};
  for (int i = 0; i < 4; ++i) {
    store[i + 1].grid = held[i];
    store[i + 1].grid_name = names[i];
    store[i + 1].file_name = std::string(names[i]) + ".asc";
  }
  statistics_registry registry;

  const auto start = std::chrono::steady_clock::now();
  int status = 0;
  std::unique_ptr<meteointerpol, release_input> input(
      new meteointerpol(status, &diag, &registry, 200, "temperature", &store, ctx, 5));
  const auto set_up = std::chrono::steady_clock::now();
  if (status != 0) {
    std::cerr << "set-up failed with code " << status << "\n" << console.str();
    MPI_Abort(MPI_COMM_WORLD, status);
  }
  int64_t read = 1;
  double checksum = 0;
  while (input->is_end_of_data() == 0) {
    checksum += input->station(0).values[1];
    input->read_next_record();
    if (input->is_end_of_data() == 0) ++read;
  }
  const auto done = std::chrono::steady_clock::now();
  const double setup_s = std::chrono::duration<double>(set_up - start).count();
  const double rows_s = std::chrono::duration<double>(done - set_up).count();
  const double mbytes = static_cast<double>(std::filesystem::file_size(station_path)) / 1e6;
  std::printf(
      "stations %d, rows read %lld of %lld, file %.1f MB\nset-up (header, start row) %.3f s\n"
      "rows through read_next_record %.3f s (%.0f MB/s)\nbuffer fills (file opens) %lld, "
      "rows per fill %lld\nchecksum %.1f\n",
      stations, static_cast<long long>(read), static_cast<long long>(rows), mbytes, setup_s,
      rows_s, mbytes / rows_s, static_cast<long long>(input->station(0).fills),
      static_cast<long long>(input->station(0).capacity), checksum);
  input.reset();
  std::filesystem::remove_all(dir);
  MPI_Finalize();
  return 0;
}
