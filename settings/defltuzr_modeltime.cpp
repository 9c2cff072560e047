// The simulated period of "[model_time]". Two-digit years are taken as
// 19xx, months and days out of range are pulled to the nearest valid one.
// February follows the end year alone (a leap year when it is divisible by 4
// and not by 100), and keeps that length for the whole run. A year outside
// 1 to 9999 after that correction is a mistake, not a period: it would only
// push the time keys of the run beyond their range.
#include "modelbase/diagstream.h"
#include "settings/defltuzr.h"

namespace {

constexpr int64_t CENTURY_OFFSET = 1900;  // [a] added to years of three digits or fewer
constexpr int64_t FIRST_YEAR = 1;         // [a] the earliest year of a period
constexpr int64_t LAST_YEAR = 9999;       // [a] the latest

int64_t clamp_value(int64_t value, int64_t low, int64_t high) {
  if (value < low) return low;
  if (value > high) return high;
  return value;
}

}  // namespace

void defaultini::read_model_time() {
  std::FILE* file = control_file();
  seek_section("[model_time]", true);
  long values[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  static const char* const keys[8] = {"starting hour in ", "starting day in ",
                                      "starting month in ", "starting year in ",
                                      "end hour in ",       "and day in ",
                                      "end month in ",      "end year in "};
  for (int i = 0; i < 8; ++i) read_value(file, "%ld", values[i], keys[i], section_buffer);

  start_hour = values[0];
  start_day = values[1];
  start_month = values[2];
  start_year = values[3];
  end_hour = values[4];
  end_day = values[5];
  end_month = values[6];
  end_year = values[7];

  if (start_year <= 999) start_year += CENTURY_OFFSET;
  if (end_year <= 999) end_year += CENTURY_OFFSET;
  if (start_year < FIRST_YEAR || start_year > LAST_YEAR)
    fail_control_file(keys[3], "[model_time] (a year from 1 to 9999) ");
  if (end_year < FIRST_YEAR || end_year > LAST_YEAR)
    fail_control_file(keys[7], "[model_time] (a year from 1 to 9999) ");
  start_month = clamp_value(start_month, 1, 12);
  end_month = clamp_value(end_month, 1, 12);
  month_days[2] = (end_year % 4 == 0 && end_year % 100 != 0) ? 29 : 28;
  end_day = clamp_value(end_day, 1, month_days[end_month]);
  start_day = clamp_value(start_day, 1, month_days[start_month]);
}
