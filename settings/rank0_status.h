// Work that process 0 does alone before a collective step (a check of a
// whole grid, then its scatter): its error code reaches every process, so
// that all of them leave together instead of waiting in the collective step
// for a process that has already given up.
#pragma once

#include <mpi.h>

template <class Body>
void run_on_rank0_and_share_error(int rank, Body&& body) {
  int code = 0;
  if (rank == 0) {
    try {
      body();
    } catch (int thrown) {
      code = thrown;
    }
  }
  MPI_Bcast(&code, 1, MPI_INT, 0, MPI_COMM_WORLD);
  if (code != 0) throw code;
}
