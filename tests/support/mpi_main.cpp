// Collective tests: every process runs every test; only process 0 reports,
// and a failure on any process fails the test on all.
#include <gtest/gtest.h>
#include <mpi.h>

namespace {

class RankFailureListener : public ::testing::EmptyTestEventListener {
  void OnTestEnd(const ::testing::TestInfo& info) override {
    int failed = info.result()->Failed() ? 1 : 0;
    int any_failed = 0;
    MPI_Allreduce(&failed, &any_failed, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
    int rank = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    if (any_failed && !failed && rank == 0)
      std::fprintf(stderr, "[  FAILED  ] %s.%s failed on another process\n", info.test_suite_name(),
                   info.name());
    any_failed_total |= any_failed;
  }

 public:
  int any_failed_total = 0;
};

}  // namespace

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  ::testing::InitGoogleTest(&argc, argv);
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  auto& listeners = ::testing::UnitTest::GetInstance()->listeners();
  if (rank != 0) delete listeners.Release(listeners.default_result_printer());
  auto* listener = new RankFailureListener;
  listeners.Append(listener);
  int result = RUN_ALL_TESTS();
  int mine = result != 0 || listener->any_failed_total ? 1 : 0;
  int any = 0;
  MPI_Allreduce(&mine, &any, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  MPI_Finalize();
  return any;
}
