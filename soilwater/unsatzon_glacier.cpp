// Glacier records per subbasin (see unsatzon_glacier.h).
#include "soilwater/unsatzon_glacier.h"

#include <mpi.h>

void add_glacier_cell(subbasin_glacier_record& record, double g) noexcept {
  if (g > 0) {
    record.glacierized = true;
    record.glacier_sum += g;
    record.free_sum += 1 - g;
  } else {
    record.free_sum += 1;
  }
}

void broadcast_glacier_records(std::vector<subbasin_glacier_record>& records) {
  int lengths[3] = {1, 1, 1};
  MPI_Aint offsets[3] = {offsetof(subbasin_glacier_record, glacierized),
                         offsetof(subbasin_glacier_record, glacier_sum),
                         offsetof(subbasin_glacier_record, free_sum)};
  MPI_Datatype types[3] = {MPI_C_BOOL, MPI_DOUBLE, MPI_DOUBLE};
  MPI_Datatype packed = MPI_DATATYPE_NULL;
  MPI_Type_create_struct(3, lengths, offsets, types, &packed);
  MPI_Datatype record = MPI_DATATYPE_NULL;
  MPI_Type_create_resized(packed, 0, sizeof(subbasin_glacier_record), &record);
  MPI_Type_commit(&record);
  MPI_Barrier(MPI_COMM_WORLD);
  MPI_Bcast(records.data(), static_cast<int>(records.size()), record, 0, MPI_COMM_WORLD);
  MPI_Type_free(&record);
  MPI_Type_free(&packed);
}
