// Vegetation parameters of a land-use class over the year: the calendar of
// the land-use classes, the monthly interpolation of the one-line
// resistances (anchored on day 15 of each month), and the interpolation
// between Julian sample days that move with the cell's altitude, with its
// phenological start day or along its own series of start days.
//
// These kernels keep everything they work out in the caller's storage, so
// the queries of landuse_entry that use them can run on many threads at once.
#pragma once

#include <array>

#include "tables/landuse.h"

// Errors of the queries.
constexpr int LANDUSE_DAY_OF_YEAR_ERROR = 150;
constexpr int LANDUSE_ALTITUDE_DAY_ERROR = 152;
constexpr int LANDUSE_MONTH_ERROR = 154;

constexpr double SAMPLE_DAY_BASE_ALTITUDE = 400.0;  // [m] altitude without shift

// February of the land-use calendar: 29 days when the year is divisible by 4
// and not by 400 (so 1900 has 29 days and 2000 has 28).
int landuse_february_days(int year);

// Month lengths for a year of the land-use calendar: [0] December of the year
// before, [1..12] January to December.
using month_lengths = std::array<int, 13>;
month_lengths landuse_month_lengths(int february_days);

// Day of the year in the land-use calendar; throws 150 (without an entry)
// outside 0..366.
int landuse_day_of_year(int day, int month, int year);

// Monthly interpolation of a series with elements 0..13 on day t of month k;
// throws 154 (without an entry) for a month outside 1..12.
double monthly_value(const landuse_series& p, int day, int month, const month_lengths& lengths);

// The date (day, month) of a Julian day for the monthly interpolation: days
// above 365 are taken modulo 365, day 0 and below count as January 1.
void julian_day_to_date(int jd, const month_lengths& lengths, int& day, int& month);

// Sample days corrected for altitude [m] and, for the methods with a
// phenological start (3, 4 and 6), with the cell's start day s (-1 when not
// known): c[0..n]. An entry and 152 when a corrected day leaves -1..366.
void correct_sample_days(DiagStream& diag, const landuse_entry& e, double altitude, int s, int* c);

// Index k of the interval (c[k-1], c[k]] holding jd; past the last sample
// day k is 1 and jd moves back by 366.
int find_sample_interval(const int* c, int n, int& jd);

// Linear value of p between sample days c[k-1] and c[k] at jd.
double interpolate_sample_days(const landuse_series& p, const int* c, int k, int jd);

// Bracket (lo, hi) of x on a cell's start-day series q[0..n].
struct series_bracket {
  int lo = 0;
  int hi = 1;
};
series_bracket find_series_bracket(const double* q, int n, double x);
