// The device mirror of the lattices: what allocAndUpload builds, byte-exact round trips, what an upload
// sends, and freeing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "duriz/gpu_inc/cudaCheck.h"
#include "duriz/mlsolver/OutOfMemory.h"
#include "duriz/mlsolver/mlSinglePhaseSolverNew.h"
#include "mlsolver/latticeBox.h"
#include "simulatorInterface/FluidHelper.h"
#include "supplement/IBBoundaryMemMgr.h"
#include "testSupport.h"

namespace {

// Every array of a lattice, in the bytes it holds.
std::vector<char> bytesOf(const mlFlow& l) {
  std::vector<char> out;
  auto add = [&](const void* p, std::size_t size) { out.insert(out.end(), (const char*)p, (const char*)p + size); };
  add(l.f, 27 * l.count * sizeof(float));
  add(l.fPost, 27 * l.count * sizeof(float));
  for (const float* u : {l.ux, l.uy, l.uz}) add(u, l.count * sizeof(float));
  for (const double* F : {l.forcex, l.forcey, l.forcez}) add(F, l.count * sizeof(double));
  add(l.rou, l.count * sizeof(float));
  add(l.flag, l.count * sizeof(MLLATTICENODE_FLAG));
  return out;
}

// Fills every array with a byte pattern no lattice holds.
void scribble(mlFlow& l) {
  for (float* a : {l.f, l.fPost}) std::memset(a, 0x5A, 27 * l.count * sizeof(float));
  for (float* u : {l.ux, l.uy, l.uz, l.Sopt}) std::memset(u, 0x5A, l.count * sizeof(float));
  for (double* F : {l.forcex, l.forcey, l.forcez}) std::memset(F, 0x5A, l.count * sizeof(double));
  std::fill(l.rou, l.rou + l.count, -5.0f);
  std::memset(l.flag, 0x5A, l.count * sizeof(MLLATTICENODE_FLAG));
}

class LatticeMirror : public ::testing::Test {
 protected:
  void SetUp() override {
    baseline_ = dz::device::counters();
    for (float salt : {0.5f, -4.0f}) {
      lattices_.push_back(initFlow(latticeBox(2 - salt, 1.5f, 1, 0.5f)));
      mlFlow& l = *lattices_.back();
      for (std::size_t k = 0; k < 27 * l.count; ++k) l.f[k] = salt + 0.001f * k, l.fPost[k] = salt - 0.002f * k;
      for (std::size_t i = 0; i < l.count; ++i) {
        l.ux[i] = salt + i, l.uy[i] = salt - i, l.uz[i] = 0.5f * i, l.rou[i] = 1.0f + 0.01f * i, l.Sopt[i] = 0.25f;
        l.forcex[i] = 1e-3 * i + salt, l.forcey[i] = -2e-3 * i, l.forcez[i] = 1.0 / (i + 1.0);
        l.flag[i] = i % 3 ? NODE_FLUID : NODE_VELOCITY;
      }
      solver_.addLattice(&l);
    }
  }
  void TearDown() override { solver_.freeGpu(); }

  dz::device::Counters baseline_;
  std::vector<std::unique_ptr<mlFlow>> lattices_;
  mlSinglePhaseSolverNew solver_;
};

TEST_F(LatticeMirror, TheDeviceRecordPointsAtThirteenDeviceArraysFreedTogether) {
  EXPECT_EQ(dz::device::counters().liveAllocations, baseline_.liveAllocations + 2 * 14);
  mlFlow copy;
  ASSERT_EQ(cudaMemcpy(&copy, solver_.lbm_dev_gpu[1], sizeof(mlFlow), cudaMemcpyDeviceToHost), cudaSuccess);
  EXPECT_EQ(copy.f, solver_.f_dev_vec[1]);
  EXPECT_EQ(copy.rou, solver_.rou_dev_vec[1]);
  EXPECT_EQ(copy.param, solver_.param_dev_vec[1]);
  EXPECT_EQ(copy.Sopt, solver_.Sopt_dev_vec[1]);
  copy.dropPointers();
  MLFluidParam param;
  ASSERT_EQ(cudaMemcpy(&param, solver_.param_dev_vec[0], sizeof param, cudaMemcpyDeviceToHost), cudaSuccess);
  EXPECT_EQ(std::memcmp(&param, lattices_[0]->param, sizeof param), 0);
  std::vector<float> sopt(lattices_[0]->count);
  ASSERT_EQ(cudaMemcpy(sopt.data(), solver_.Sopt_dev_vec[0], sopt.size() * 4, cudaMemcpyDeviceToHost), cudaSuccess);
  EXPECT_EQ(sopt, std::vector<float>(sopt.size(), 0.25f));
  solver_.freeGpu();  // releases everything
  EXPECT_EQ(dz::device::counters().liveAllocations, baseline_.liveAllocations);
  EXPECT_EQ(dz::device::counters().liveBytes, baseline_.liveBytes);
  EXPECT_TRUE(solver_.f_dev_vec.empty() && solver_.Sopt_dev_vec.empty() && solver_.lbm_dev_gpu.empty());
}

TEST_F(LatticeMirror, DownloadReturnsTheUploadBitForBitWithTheDevicesOrigin) {
  const float moved[3] = {1.25f, -0.5f, 8.0f};
  ASSERT_EQ(cudaMemcpy(&(solver_.lbm_dev_gpu[1]->start), moved, sizeof moved, cudaMemcpyHostToDevice), cudaSuccess);
  for (int i = 0; i < 2; ++i) {
    const std::vector<char> uploaded = bytesOf(*lattices_[i]);
    const float start = lattices_[i]->start[0];
    scribble(*lattices_[i]);
    FluidHelper::download(solver_, i);
    EXPECT_TRUE(bytesOf(*lattices_[i]) == uploaded) << "lattice " << i;
    EXPECT_EQ(lattices_[i]->start[0], i == 0 ? start : 1.25f);
  }
  EXPECT_EQ(lattices_[1]->start[2], 8.0f);
}

TEST_F(LatticeMirror, UploadSendsTheNineEditableArraysButNotTheDensity) {
  mlFlow& host = *lattices_[1];
  const std::size_t n = host.count;
  const float deviceDensity = host.rou[2];
  host.ux[2] = 42.0f;
  host.forcez[4] = -3.5;
  host.flag[0] = NODE_SOLID;
  host.f[5 * n + 1] = 9.0f;
  host.rou[2] = 77.0f;
  dz::device::resetCounters();
  FluidHelper::upload(solver_, 1);
  EXPECT_EQ(dz::device::counters().bytesHostToDevice,
            n * (3 * 4 + 3 * 8 + 4) + 2 * 27 * n * 4 + 9 * sizeof(void*));  // arrays and their pointers
  scribble(host);
  FluidHelper::download(solver_, 1);
  EXPECT_EQ(host.ux[2], 42.0f);
  EXPECT_EQ(host.forcez[4], -3.5);
  EXPECT_EQ(host.flag[0], NODE_SOLID);
  EXPECT_EQ(host.f[5 * n + 1], 9.0f);
  EXPECT_EQ(static_cast<float>(host.rou[2]), deviceDensity);
}

// Runs `allocate` under the limit; exits 0 when it threw OutOfMemory naming `what`, keeping no device memory
// and leaving no error for the next check, and when `kept` then holds.
[[noreturn]] void exitWhenNothingKept(rlim_t room, const std::function<void()>& allocate, const std::string& what,
                                      const std::function<bool()>& kept) {
  const dz::device::Counters before = dz::device::counters();
  testsupport::limitAddressSpace(room);
  try {
    allocate();
    std::fprintf(stderr, "allocated\n");
  } catch (const OutOfMemory& e) {
    const dz::device::Counters after = dz::device::counters();
    const bool clean = after.liveAllocations == before.liveAllocations && after.liveBytes == before.liveBytes &&
                       cudaGetLastError() == cudaSuccess && kept();
    const bool named = std::string(e.what()).find(what) != std::string::npos;
    std::fprintf(stderr, "%s%s%s\n", clean ? "" : "kept some of it: ", named ? "" : "unnamed: ", e.what());
    std::exit(clean && named ? 0 : 2);
  }
  std::exit(1);
}

// A device allocation of a script's own data that fails part-way (the room checked before was taken in
// between) keeps none of it, so that scripts get MemoryError and an object as it was. Each case runs in a
// child process; the arrays are never touched, so only their address space is taken.
TEST(DeviceAllocationDeathTest, ADeviceWithoutRoomKeepsNoneOfTheData) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Two million nodes: 216 MB per distribution array, the third of which does not fit.
  mlFlow lattice;
  lattice.count = 2000000;
  mlSinglePhaseSolverNew solver;
  // Four million points: 16 MB per float array, the seventh of which does not fit.
  mlLagrangeBoundary points;
  points.count = 4000000;
  IBBoundaryMemMgr mirror(0);
  mirror.mllaboundary = &points;
  const struct {
    const char* name;
    rlim_t room;
    std::function<void()> allocate;
    std::string what;
    std::function<bool()> kept;
  } cases[] = {
      {"lattice", 500 << 20, [&] { solver.addLattice(&lattice); },
       "lattice 0 (2000000 nodes, 744000000 bytes): the device has no room for cudaMalloc(&fStore_dev",
       [&] { return solver.lbmvec.empty() && solver.lbm_dev_gpu.empty() && solver.f_dev_vec.empty(); }},
      {"point set", 100 << 20, [&] { mirror.alloc(); }, "the device has no room for cudaMalloc((void**)&",
       [&] { return mirror.mllaboundary_gpu == nullptr && mirror.ux_dev == nullptr; }},
  };
  for (const auto& c : cases)
    EXPECT_EXIT(exitWhenNothingKept(c.room, c.allocate, c.what, c.kept), ::testing::ExitedWithCode(0), "") << c.name;
}

}  // namespace
