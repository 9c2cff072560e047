// Per subbasin the glacierized and the non-glacierized share of its cells,
// summed once at set-up on process 0 and sent to every process as a record
// of a bool and two doubles (24 bytes).
#pragma once

#include <vector>

#include "submodel/runoffrecords.h"

// Adds one cell of glacier fraction g to its subbasin's record.
void add_glacier_cell(subbasin_glacier_record& record, double g) noexcept;

// Sends records 0..n from process 0 to all processes after a barrier.
// Collective.
void broadcast_glacier_records(std::vector<subbasin_glacier_record>& records);
