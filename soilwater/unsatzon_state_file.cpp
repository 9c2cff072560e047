// The unsaturated zone's section "[unsatzon_model]" of the storage content
// file: the subbasin parameters, which a later run only compares with its
// control file, and the tracer blocks of the travel-time zones and linear
// storages, which it takes over.
#include <cerrno>
#include <cstdio>

#include "modelbase/diagstream.h"
#include "soilwater/unsatzon.h"
#include "submodel/storage_content_file.h"

namespace {

constexpr const char* SECTION = "unsatzon_model";

// The parameter lines in their order with their comments and labels.
struct parameter_line {
  const std::vector<double> subbasin_parameters::*values;
  const char* comment;
  const char* label;
};
constexpr parameter_line PARAMETER_LINES[] = {
    {&subbasin_parameters::kelsqd, "(kelsqd in min)\n", "m"},
    {&subbasin_parameters::kelsqi, "(kelsqi in min)\n", "kelsqi"},
    {&subbasin_parameters::drainage_density, "(drainage density)\n", "flussdichte"},
    {&subbasin_parameters::kelsqlat,
     "(inverse recession constant for baseflow [needed when using no groundwater model])\n",
     "kelsqlat"},
    {&subbasin_parameters::Q0, "(max. baseflow [needed when using no groundwater model])\n", "Q0"},
    {&subbasin_parameters::SnowRunoff_fraction, "(surface runoff fraction of snowmelt)\n",
     "SR_Anteil"},
};

double value_at(const std::vector<double>& v, int i) {
  return static_cast<size_t>(i) < v.size() ? v[static_cast<size_t>(i)] : 0.0;
}

}  // namespace

tracer_block_data unsatzonmodellklasse::state_blocks() {
  return tracer_block_data{&zone_queues, &flow_qdd, &flow_qii, own_zone_count, tracer_count};
}

void unsatzonmodellklasse::write_state(int append) {
  const std::string path = state_file_path(output_directory, params.storage_file_name);
  file_handle out(std::fopen(path.c_str(), append != 0 ? "a" : "w"));
  // The other modules' sections and the release still follow.
  if (out == nullptr) {
    diag_entry(*diag, "WARNING: the storage content file ", path,
               " could not be opened: the section [unsatzon_model] is not written",
               errno_text(errno));
    return;
  }
  std::FILE* f = out.get();
  const int n = own_zone_count;
  std::fprintf(f, "[unsatzon_model]\n%d (number of subasins)\n", n);
  for (int i = 1; i <= n; ++i) std::fprintf(f, "%.0f\t", own_zones[static_cast<size_t>(i)].code);
  std::fprintf(f, "(code)\n");
  for (const parameter_line& line : PARAMETER_LINES) {
    for (int i = 1; i <= n; ++i) std::fprintf(f, "%g ", value_at(params.subbasins.*line.values, i));
    std::fputs(line.comment, f);
  }
  std::fprintf(f, "%d (number of tracers)\n", tracer_count);
  write_tracer_blocks(f, state_blocks());
  std::fprintf(f, "\n");
  const bool written = std::ferror(f) == 0;
  const int error = errno;
  if (std::fclose(out.release()) != 0 || !written) {
    diag_entry(*diag, "WARNING: error writing the section [unsatzon_model] to ", path,
               errno_text(error));
    return;
  }
  storage_written = true;
}

void unsatzonmodellklasse::read_state() {
  const std::string path = state_file_path(input_directory, params.storage_file_name);
  if (rank == 0)
    warn_state_beyond_run(*diag, input_directory, params.storage_file_name, rank, process_count,
                          SECTION);
  file_handle file(std::fopen(path.c_str(), "rt"));
  if (file == nullptr) fail_fatal(*diag, 64, "error opening storage content file ", path);
  state_reader in(*diag, file.get(), path, SECTION);
  if (!in.find_section())
    fail_fatal(*diag, 71, "error locking for the section [unsatzon_model] in ", path);
  state_in = &in;
  const state_mismatch mismatch = [this](const std::string& label, double c, double s) {
    fail_state_mismatch(label, c, s);
  };
  try {
    const int n = own_zone_count;
    read_state_count(in, "number of subbasins", n, mismatch);
    for (int i = 1; i <= n; ++i) {
      const int code = in.read_int("subbasin code");
      const int expected = static_cast<int>(own_zones[static_cast<size_t>(i)].code);
      if (code != expected) fail_state_mismatch("subbasin code", expected, code);
    }
    in.skip_line();
    for (const parameter_line& line : PARAMETER_LINES) {
      for (int i = 1; i <= n; ++i)
        check_state_value(value_at(params.subbasins.*line.values, i), line.label);
      in.skip_line();
    }
    read_state_count(in, "number of tracers", tracer_count, mismatch);
    read_tracer_blocks(in, state_blocks(), mismatch);
  } catch (...) {
    state_in = nullptr;
    throw;
  }
  state_in = nullptr;
}

void unsatzonmodellklasse::check_state_value(double control_value, const std::string& label) {
  if (state_in == nullptr) fail_state_mismatch(label, control_value, NODATA);
  const double stored = state_in->read_double(label.c_str());
  if (state_value_differs(stored, control_value)) fail_state_mismatch(label, control_value, stored);
}

void unsatzonmodellklasse::fail_state_mismatch(const std::string& label, double control_value,
                                               double stored_value) {
  fail_state_value(*diag, label, control_value, stored_value);
}
