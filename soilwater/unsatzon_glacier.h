// Per subbasin the glacierized and the non-glacierized share of its cells,
// summed once at set-up on process 0 and sent to every process as a record
// of a bool and two doubles (24 bytes).
#pragma once

#include <cstddef>
#include <vector>

struct subbasin_glacier_record {
  bool glacierized = false;  // a cell of the subbasin has a glacier fraction above 0
  double glacier_sum = 0;    // [cells] sum of the glacierized fractions
  double free_sum = 0;       // [cells] sum of the non-glacierized fractions
};
static_assert(offsetof(subbasin_glacier_record, glacier_sum) == 8);
static_assert(offsetof(subbasin_glacier_record, free_sum) == 16);
static_assert(sizeof(subbasin_glacier_record) == 24);

// Adds one cell of glacier fraction g to its subbasin's record.
void add_glacier_cell(subbasin_glacier_record& record, double g) noexcept;

// Sends records 0..n from process 0 to all processes after a barrier.
// Collective.
void broadcast_glacier_records(std::vector<subbasin_glacier_record>& records);
