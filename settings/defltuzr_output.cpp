// The settings every module needs besides its own section: the output
// interval and switches ("[output_interval]"), the subbasins with their own
// statistics columns ("[output_list]"), the position of the basin
// ("[coordinates]") and the meteorological inputs ("[meteo_data_count]",
// "[meteo_names]"). Lines 2 to 4 of "[output_interval]" are optional: a value
// that cannot be read keeps its default without a report.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "modelbase/diagstream.h"
#include "modelbase/textutil.h"
#include "settings/defltuzr.h"

namespace {

// The text after the first "=" of a key line; false without one.
bool value_after_equals(const std::string& line, std::string& value) {
  const size_t equals = line.find('=');
  if (equals == std::string::npos) return false;
  value = line.substr(equals + 1);
  return true;
}

// A truth value 0 or 1 after the "=" of a key line; unchanged when unreadable.
void read_switch(const std::string& line, char& target) {
  std::string value;
  if (!value_after_equals(line, value)) return;
  const char* begin = value.c_str();
  char* end = nullptr;
  const long number = std::strtol(begin, &end, 10);
  if (end != begin) target = number != 0 ? 1 : 0;
}

// One blank-delimited word after the "=" of a key line.
void read_directory(const std::string& line, std::unique_ptr<std::string>& target) {
  std::string value;
  if (!value_after_equals(line, value)) return;
  const size_t first = value.find_first_not_of(" \t\r\n");
  std::string word;
  if (first != std::string::npos) {
    const size_t last = value.find_first_of(" \t\r\n", first);
    word = value.substr(first, last == std::string::npos ? std::string::npos : last - first);
  }
  target = std::make_unique<std::string>(word);
}

}  // namespace

void defaultini::read_base_settings(const std::string& control_name_to_read) {
  control_path = control_name_to_read;
  if (!open_control_file())
    fail_fatal(*diag, 28, "Error opening ", control_name_to_read, errno_text(errno));
  std::FILE* file = control_file();
  base.radius_warnings = 0;

  seek_section("[output_interval]", true);
  if (scan_one(file, base.output_control) != 1) fail_control_file("output control", "");
  read_line_rest(file, section_buffer);
  scan_one(file, base.radius_warnings);
  read_line_rest(file, section_buffer);
  scan_one(file, base.discharge_unit);
  read_line_rest(file, section_buffer);
  scan_one(file, base.min_to_int_end);
  read_line_rest(file, section_buffer);
  // Compared unsigned, so that negative values are corrected as well.
  if (static_cast<unsigned>(base.radius_warnings) > 1) base.radius_warnings = 1;
  if (static_cast<unsigned>(base.discharge_unit) > 1) base.discharge_unit = 0;
  if (base.min_to_int_end < 0) base.min_to_int_end = 0;

  // Key lines up to the first empty line.
  std::string line;
  while (read_text_line(file, line)) {
    const size_t text = line.find_first_not_of(" \t");
    line.erase(0, text == std::string::npos ? line.size() : text);
    if (line.empty() || line[0] == '\n') break;
    if (line.find("WriteAsciiGrids") != std::string::npos)
      read_switch(line, write_ascii_grids);
    else if (line.find("WriteDoubleGrids") != std::string::npos)
      read_switch(line, write_double_grids);
    else if (line.find("InitialStateDirectory") != std::string::npos)
      read_directory(line, input_dir);
    else if (line.find("DefaultOutputDirectory") != std::string::npos)
      read_directory(line, output_dir);
    if (line.back() != '\n') break;
  }
  input_directory = input_dir.get();
  output_directory = output_dir.get();

  seek_section("[output_list]", true);
  int selected = 0;
  if (scan_one(file, selected) != 1) fail_control_file("number of subbasins in output list", "");
  read_line_rest(file, section_buffer);
  base.selected_codes.assign(1, 0);
  for (int i = 1; i <= selected; ++i) {
    int code = 0;
    if (scan_one(file, code) != 1) fail_control_file("codes in output-list", "");
    read_line_rest(file, section_buffer);
    base.selected_codes.push_back(code);
  }
  for (size_t i = 2; i < base.selected_codes.size(); ++i) {
    if (base.selected_codes[i - 1] >= base.selected_codes[i]) {
      fail_fatal(*diag, 97,
                 "\nError in control file: order of subbasin codes in output_list!\n"
                 "if output should be written for a specified set of subbasins,\n"
                 "(specified by a statcode of 5 for averaging in time or 6 for summing in time)\n"
                 "than the codes has to be arranged in ascendend order\n"
                 ".look in [output_list]\n");
    }
  }
  base.selected_codes[0] = static_cast<int>(base.selected_codes.size()) - 1;

  seek_section("[coordinates]", true);
  double* const coordinates[4] = {&base.latitude, &base.longitude, &base.reference_meridian,
                                  &base.time_shift};
  static const char* const coordinate_keys[4] = {"geographic latitude", "geographic longitude",
                                                 "reference meridian",
                                                 "time shift of data time to lokal time"};
  for (int i = 0; i < 4; ++i) {
    if (scan_one(file, *coordinates[i]) != 1) fail_control_file(coordinate_keys[i], "");
    read_line_rest(file, section_buffer);
  }

  seek_section("[meteo_data_count]", true);
  if (scan_one(file, base.meteo_count) != 1)
    fail_control_file("number of meteorological variables", "");
  read_line_rest(file, section_buffer);

  seek_section("[meteo_names]", true);
  const size_t names = base.meteo_count > 0 ? static_cast<size_t>(base.meteo_count) : 0;
  base.meteo_names = checked_array<std::string>(names + 1, 1);
  // A name is never taken from the next section's header line.
  for (size_t i = 1; i <= names; ++i)
    read_value(file, "%200s", base.meteo_names[i],
               "name of meteorological variable " + std::to_string(i) + " in ", section_buffer);

  if (std::fclose(control.release()) != 0)
    fail_fatal(*diag, 11, "error closing ", control_name_to_read, errno_text(errno));
}

void defaultini::read_radiation_correction_flow_control() {
  seek_section("[radiation_correction]", true);
  scan_one(control_file(), radiation_correction);
}
