#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "duriz/gpu_inc/cudaCheck.h"
#include "duriz/mlsolver/mlSinglePhaseSolverNew.h"
#include "simulatorInterface/FluidHelper.h"

namespace {

std::unique_ptr<mlFlow> patternedLattice(float width, float salt) {
  auto p = std::make_shared<simParams>();
  p->width = width;
  p->height = 1.5f;
  p->depth = 1.0f;
  p->dx = 0.5f;
  auto flow = initFlow(p);
  const std::size_t n = flow->count;
  for (std::size_t k = 0; k < 27 * n; ++k) {
    flow->f[k] = salt + 0.001f * k;
    flow->fPost[k] = salt - 0.002f * k;
    flow->fStore[k] = 3.0f;
  }
  for (std::size_t i = 0; i < n; ++i) {
    flow->ux[i] = salt + i;
    flow->uy[i] = salt - i;
    flow->uz[i] = 0.5f * i;
    flow->rou[i] = 1.0f + 0.01f * i;
    flow->forcex[i] = 1e-3 * i + salt;
    flow->forcey[i] = -2e-3 * i;
    flow->forcez[i] = 1.0 / (i + 1.0);
    flow->flag[i] = i % 3 ? NODE_FLUID : NODE_VELOCITY;
    flow->Sopt[i] = 0.25f;
  }
  return flow;
}

struct HostCopy {
  std::vector<float> f, fPost, ux, uy, uz, rou;
  std::vector<double> forcex, forcey, forcez;
  std::vector<MLLATTICENODE_FLAG> flag;
  explicit HostCopy(const mlFlow& l)
      : f(l.f, l.f + 27 * l.count),
        fPost(l.fPost, l.fPost + 27 * l.count),
        ux(l.ux, l.ux + l.count),
        uy(l.uy, l.uy + l.count),
        uz(l.uz, l.uz + l.count),
        forcex(l.forcex, l.forcex + l.count),
        forcey(l.forcey, l.forcey + l.count),
        forcez(l.forcez, l.forcez + l.count),
        flag(l.flag, l.flag + l.count) {
    for (std::size_t i = 0; i < l.count; ++i) rou.push_back(l.rou[i]);
  }
  bool operator==(const HostCopy& o) const {
    return f == o.f && fPost == o.fPost && ux == o.ux && uy == o.uy && uz == o.uz && rou == o.rou &&
           forcex == o.forcex && forcey == o.forcey && forcez == o.forcez && flag == o.flag;
  }
};

void scribble(mlFlow& l) {
  std::memset(l.f, 0, 27 * l.count * sizeof(float));
  std::memset(l.fPost, 0, 27 * l.count * sizeof(float));
  for (std::size_t i = 0; i < l.count; ++i) {
    l.ux[i] = l.uy[i] = l.uz[i] = -1;
    l.rou[i] = -1;
    l.forcex[i] = l.forcey[i] = l.forcez[i] = -1;
    l.flag[i] = NODE_SOLID;
  }
}

class LatticeMirror : public ::testing::Test {
 protected:
  void SetUp() override {
    baseline_ = dz::device::counters();
    lattices_.push_back(patternedLattice(2.0f, 0.5f));
    lattices_.push_back(patternedLattice(3.0f, -4.0f));
    for (auto& lattice : lattices_) solver_.addLattice(lattice.get());
  }
  void TearDown() override { solver_.freeGpu(); }

  dz::device::Counters baseline_;
  std::vector<std::unique_ptr<mlFlow>> lattices_;
  mlSinglePhaseSolverNew solver_;
};

TEST_F(LatticeMirror, AllocatesThirteenArraysAndARecordPerLattice) {
  EXPECT_EQ(dz::device::counters().liveAllocations, baseline_.liveAllocations + 2 * 14);
  EXPECT_EQ(solver_.f_dev_vec.size(), 2u);
  EXPECT_EQ(solver_.Sopt_dev_vec.size(), 2u);

  // The device record is the host record with its pointers replaced by the lists' addresses.
  mlFlow copy;
  ASSERT_EQ(cudaMemcpy(&copy, solver_.lbm_dev_gpu[1], sizeof(mlFlow), cudaMemcpyDeviceToHost), cudaSuccess);
  EXPECT_EQ(copy.f, solver_.f_dev_vec[1]);
  EXPECT_EQ(copy.rou, solver_.rou_dev_vec[1]);
  EXPECT_EQ(copy.param, solver_.param_dev_vec[1]);
  EXPECT_EQ(copy.Sopt, solver_.Sopt_dev_vec[1]);
  EXPECT_EQ(copy.count, lattices_[1]->count);
  EXPECT_EQ(copy.start[0], lattices_[1]->start[0]);
  EXPECT_EQ(copy.viscosity, lattices_[1]->viscosity);
  copy.dropPointers();

  MLFluidParam param;
  ASSERT_EQ(cudaMemcpy(&param, solver_.param_dev_vec[0], sizeof param, cudaMemcpyDeviceToHost), cudaSuccess);
  EXPECT_EQ(std::memcmp(&param, lattices_[0]->param, sizeof param), 0);
  std::vector<float> sopt(lattices_[0]->count);
  ASSERT_EQ(cudaMemcpy(sopt.data(), solver_.Sopt_dev_vec[0], sopt.size() * 4, cudaMemcpyDeviceToHost), cudaSuccess);
  EXPECT_EQ(sopt, std::vector<float>(sopt.size(), 0.25f));
}

TEST_F(LatticeMirror, DownloadReturnsTheUploadedArraysBitForBit) {
  for (int i = 0; i < 2; ++i) {
    mlFlow& host = *lattices_[i];
    const HostCopy uploaded(host);
    const float start[3] = {host.start[0], host.start[1], host.start[2]};
    scribble(host);
    FluidHelper::download(solver_, i);
    EXPECT_TRUE(HostCopy(host) == uploaded) << "lattice " << i;
    EXPECT_EQ(host.start[0], start[0]);
    EXPECT_EQ(host.start[2], start[2]);
  }
}

TEST_F(LatticeMirror, UploadSendsTheNineEditableArraysOnly) {
  mlFlow& host = *lattices_[1];
  const std::size_t n = host.count;
  const float deviceDensity = host.rou[2];
  host.ux[2] = 42.0f;
  host.forcez[4] = -3.5;
  host.flag[0] = NODE_SOLID;
  host.f[5 * n + 1] = 9.0f;
  host.rou[2] = 77.0f;  // density edits stay on the host

  dz::device::resetCounters();
  FluidHelper::upload(solver_, 1);
  const std::size_t arrays =
      n * (3 * sizeof(float) + 3 * sizeof(double) + sizeof(MLLATTICENODE_FLAG)) + 2 * 27 * n * sizeof(float);
  EXPECT_EQ(dz::device::counters().bytesHostToDevice, arrays + 9 * sizeof(void*));

  scribble(host);
  FluidHelper::download(solver_, 1);
  EXPECT_EQ(host.ux[2], 42.0f);
  EXPECT_EQ(host.forcez[4], -3.5);
  EXPECT_EQ(host.flag[0], NODE_SOLID);
  EXPECT_EQ(host.f[5 * n + 1], 9.0f);
  EXPECT_EQ(static_cast<float>(host.rou[2]), deviceDensity);
}

TEST_F(LatticeMirror, DownloadBringsBackAMovedOrigin) {
  const float moved[3] = {1.25f, -0.5f, 8.0f};
  ASSERT_EQ(cudaMemcpy(&(solver_.lbm_dev_gpu[0]->start), moved, sizeof moved, cudaMemcpyHostToDevice), cudaSuccess);
  FluidHelper::download(solver_, 0);
  EXPECT_EQ(lattices_[0]->start[0], 1.25f);
  EXPECT_EQ(lattices_[0]->start[1], -0.5f);
  EXPECT_EQ(lattices_[0]->start[2], 8.0f);
}

TEST_F(LatticeMirror, FreeGpuReleasesEverything) {
  solver_.freeGpu();
  EXPECT_EQ(dz::device::counters().liveAllocations, baseline_.liveAllocations);
  EXPECT_EQ(dz::device::counters().liveBytes, baseline_.liveBytes);
  EXPECT_TRUE(solver_.f_dev_vec.empty());
  EXPECT_TRUE(solver_.fPost_dev_vec.empty());
  EXPECT_TRUE(solver_.fStore_dev_vec.empty());
  EXPECT_TRUE(solver_.rou_dev_vec.empty());
  EXPECT_TRUE(solver_.ux_dev_vec.empty());
  EXPECT_TRUE(solver_.uy_dev_vec.empty());
  EXPECT_TRUE(solver_.uz_dev_vec.empty());
  EXPECT_TRUE(solver_.flag_dev_vec.empty());
  EXPECT_TRUE(solver_.param_dev_vec.empty());
  EXPECT_TRUE(solver_.forcex_dev_vec.empty());
  EXPECT_TRUE(solver_.forcey_dev_vec.empty());
  EXPECT_TRUE(solver_.forcez_dev_vec.empty());
  EXPECT_TRUE(solver_.Sopt_dev_vec.empty());
  EXPECT_TRUE(solver_.lbm_dev_gpu.empty());
  EXPECT_EQ(cudaGetLastError(), cudaSuccess);
}

}  // namespace
