// Irrigation needs the routing module's river water, which exists on process
// 0 alone: with more than one process every process stops its set-up with
// code 60; with one the module is built and irrigates.
#include <gtest/gtest.h>
#include <mpi.h>

#include "vertical/irrigation_fixture.h"

namespace {

TEST(IrrigationMpi, OneProcessOnly) {
  int size = 1;
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  irrigation_fixture f;
  f.table[1] = entry(3, 1);
  f.set("irrigation_codes", 1);
  const int status = f.build();
  if (size > 1) {
    EXPECT_EQ(status, 60);
    EXPECT_NE(f.cd.console().find("irrigation runs with a single process only"), std::string::npos);
    f.module.reset();  // never set up: nothing to release
  } else {
    ASSERT_EQ(status, 0) << f.cd.console();
    f.step(1);
    for (double a : f.row_of("irrigation_amounts")) EXPECT_NEAR(a, 75, 1e-9);
  }
  MPI_Barrier(MPI_COMM_WORLD);
}

}  // namespace
