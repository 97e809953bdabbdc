// The point record and its device mirror: what alloc, upload, download and freeGpu move and hold.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "duriz/mlimmersedbnd/mlLagrangeBoundary.h"
#include "supplement/IBBoundaryMemMgr.h"

namespace {

constexpr std::size_t kFloatArrays = 12;  // velocities, positions, normals, initial positions
constexpr std::size_t kDoubleArrays = 3;  // forces
constexpr std::size_t kBytesPerPoint = kFloatArrays * 4 + kDoubleArrays * 8 + 4;  // and the density

template <class T>
std::vector<T> fromDevice(const T* dev, int n) {
  std::vector<T> out(n);
  EXPECT_EQ(cudaMemcpy(out.data(), dev, n * sizeof(T), cudaMemcpyDeviceToHost), cudaSuccess);
  return out;
}

template <class T>
std::vector<T> onHost(const T* host, int n) {
  return std::vector<T>(host, host + n);
}

std::vector<float> densities(const mlDensity<float>* rou, int n) {
  std::vector<float> out;
  for (int i = 0; i < n; ++i) out.push_back(rou[i]);
  return out;
}

// Every array gets values of its own, so a copy into the wrong array shows.
void pattern(mlLagrangeBoundary& b, float salt) {
  float* floats[] = {b.coordx,     b.coordy,     b.coordz,     b.normalx, b.normaly, b.normalz,
                     b.coordInitx, b.coordInity, b.coordInitz, b.ux,      b.uy,      b.uz};
  for (int a = 0; a < 12; ++a)
    for (int i = 0; i < b.count; ++i) floats[a][i] = salt + 100.0f * a + 0.5f * i;
  double* doubles[] = {b.forcex, b.forcey, b.forcez};
  for (int a = 0; a < 3; ++a)
    for (int i = 0; i < b.count; ++i) doubles[a][i] = salt - 1000.0 * a - 0.25 * i;
  for (int i = 0; i < b.count; ++i) b.rou[i] = salt + 0.01f * i;
}

TEST(LagrangeBoundary, NewSetIsAtRestWithUnitDensity) {
  mlLagrangeBoundary b(5, 0.125f);
  EXPECT_EQ(b.count, 5);
  EXPECT_EQ(b.area, 0.125f);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(b.coordx[i], 0.0f);
    EXPECT_EQ(b.normalz[i], 0.0f);
    EXPECT_EQ(b.coordInity[i], 0.0f);
    EXPECT_EQ(b.forcex[i], 0.0);
    EXPECT_EQ(b.forcez[i], 0.0);
    EXPECT_EQ(b.uy[i], 0.0f);
    EXPECT_EQ(static_cast<float>(b.rou[i]), 1.0f);
  }
  EXPECT_THROW(mlLagrangeBoundary(-1, 1.0f), std::invalid_argument);
  mlLagrangeBoundary empty(0, 1.0f);
  EXPECT_EQ(empty.count, 0);
}

class BoundaryMirror : public ::testing::Test {
 protected:
  static constexpr int kPoints = 37;
  void SetUp() override {
    baseline_ = dz::device::counters();
    pattern(host_, 3.0f);
    mirror_.attach(&host_);
    mirror_.alloc();
    mirror_.upload();
  }

  dz::device::Counters baseline_;
  mlLagrangeBoundary host_{kPoints, 0.75f};
  IBBoundaryMemMgr mirror_;
};

TEST_F(BoundaryMirror, AllocHoldsARecordAndSixteenArrays) {
  const auto now = dz::device::counters();
  EXPECT_EQ(now.liveAllocations, baseline_.liveAllocations + 17);
  EXPECT_EQ(now.liveBytes, baseline_.liveBytes + sizeof(mlLagrangeBoundary) + kPoints * kBytesPerPoint);
  EXPECT_EQ(mirror_.mllaboundary, &host_);
  ASSERT_NE(mirror_.mllagbndHost, nullptr);
}

TEST_F(BoundaryMirror, UploadCopiesEveryArrayAndPointsTheRecordAtThem) {
  const int n = kPoints;
  EXPECT_EQ(fromDevice(mirror_.ux_dev, n), onHost(host_.ux, n));
  EXPECT_EQ(fromDevice(mirror_.uy_dev, n), onHost(host_.uy, n));
  EXPECT_EQ(fromDevice(mirror_.uz_dev, n), onHost(host_.uz, n));
  EXPECT_EQ(fromDevice(mirror_.coordx_dev, n), onHost(host_.coordx, n));
  EXPECT_EQ(fromDevice(mirror_.coordy_dev, n), onHost(host_.coordy, n));
  EXPECT_EQ(fromDevice(mirror_.coordz_dev, n), onHost(host_.coordz, n));
  EXPECT_EQ(fromDevice(mirror_.normalx_dev, n), onHost(host_.normalx, n));
  EXPECT_EQ(fromDevice(mirror_.normaly_dev, n), onHost(host_.normaly, n));
  EXPECT_EQ(fromDevice(mirror_.normalz_dev, n), onHost(host_.normalz, n));
  EXPECT_EQ(fromDevice(mirror_.coordInitx_dev, n), onHost(host_.coordInitx, n));
  EXPECT_EQ(fromDevice(mirror_.coordInity_dev, n), onHost(host_.coordInity, n));
  EXPECT_EQ(fromDevice(mirror_.coordInitz_dev, n), onHost(host_.coordInitz, n));
  EXPECT_EQ(fromDevice(mirror_.forcex_dev, n), onHost(host_.forcex, n));
  EXPECT_EQ(fromDevice(mirror_.forcey_dev, n), onHost(host_.forcey, n));
  EXPECT_EQ(fromDevice(mirror_.forcez_dev, n), onHost(host_.forcez, n));
  const auto den = fromDevice(reinterpret_cast<const float*>(mirror_.den_dev), n);
  EXPECT_EQ(den, densities(host_.rou, n));

  std::unique_ptr<mlLagrangeBoundary, IBBoundaryMemMgr::DeviceRecordCopyDeleter> record(new mlLagrangeBoundary());
  ASSERT_EQ(cudaMemcpy(record.get(), mirror_.mllaboundary_gpu, sizeof *record, cudaMemcpyDeviceToHost), cudaSuccess);
  EXPECT_EQ(record->count, kPoints);
  EXPECT_EQ(record->area, 0.75f);
  EXPECT_EQ(record->ux, mirror_.ux_dev);
  EXPECT_EQ(record->uy, mirror_.uy_dev);
  EXPECT_EQ(record->uz, mirror_.uz_dev);
  EXPECT_EQ(record->coordx, mirror_.coordx_dev);
  EXPECT_EQ(record->coordy, mirror_.coordy_dev);
  EXPECT_EQ(record->coordz, mirror_.coordz_dev);
  EXPECT_EQ(record->normalx, mirror_.normalx_dev);
  EXPECT_EQ(record->normaly, mirror_.normaly_dev);
  EXPECT_EQ(record->normalz, mirror_.normalz_dev);
  EXPECT_EQ(record->coordInitx, mirror_.coordInitx_dev);
  EXPECT_EQ(record->coordInity, mirror_.coordInity_dev);
  EXPECT_EQ(record->coordInitz, mirror_.coordInitz_dev);
  EXPECT_EQ(record->forcex, mirror_.forcex_dev);
  EXPECT_EQ(record->forcey, mirror_.forcey_dev);
  EXPECT_EQ(record->forcez, mirror_.forcez_dev);
  EXPECT_EQ(record->rou, mirror_.den_dev);
}

TEST_F(BoundaryMirror, UploadMovesArraysRecordAndSixteenAddresses) {
  dz::device::resetCounters();
  mirror_.upload();
  EXPECT_EQ(dz::device::counters().bytesHostToDevice,
            kPoints * kBytesPerPoint + sizeof(mlLagrangeBoundary) + 16 * sizeof(void*));
}

TEST_F(BoundaryMirror, DownloadBringsBackPositionsNormalsVelocitiesAndForces) {
  mlLagrangeBoundary uploaded(kPoints, 0.75f);
  pattern(uploaded, 3.0f);
  pattern(host_, -50.0f);  // host edits after the upload
  host_.area = 9.0f;

  dz::device::resetCounters();
  mirror_.download();
  EXPECT_EQ(dz::device::counters().bytesDeviceToHost,
            sizeof(mlLagrangeBoundary) + kPoints * (9 * sizeof(float) + 3 * sizeof(double)));

  const int n = kPoints;
  EXPECT_EQ(onHost(host_.ux, n), onHost(uploaded.ux, n));
  EXPECT_EQ(onHost(host_.uy, n), onHost(uploaded.uy, n));
  EXPECT_EQ(onHost(host_.uz, n), onHost(uploaded.uz, n));
  EXPECT_EQ(onHost(host_.coordx, n), onHost(uploaded.coordx, n));
  EXPECT_EQ(onHost(host_.coordy, n), onHost(uploaded.coordy, n));
  EXPECT_EQ(onHost(host_.coordz, n), onHost(uploaded.coordz, n));
  EXPECT_EQ(onHost(host_.normalx, n), onHost(uploaded.normalx, n));
  EXPECT_EQ(onHost(host_.normaly, n), onHost(uploaded.normaly, n));
  EXPECT_EQ(onHost(host_.normalz, n), onHost(uploaded.normalz, n));
  EXPECT_EQ(onHost(host_.forcex, n), onHost(uploaded.forcex, n));
  EXPECT_EQ(onHost(host_.forcey, n), onHost(uploaded.forcey, n));
  EXPECT_EQ(onHost(host_.forcez, n), onHost(uploaded.forcez, n));

  // Initial positions, densities and the scalars keep the host's values.
  mlLagrangeBoundary edited(kPoints, 0.75f);
  pattern(edited, -50.0f);
  EXPECT_EQ(onHost(host_.coordInitx, n), onHost(edited.coordInitx, n));
  EXPECT_EQ(onHost(host_.coordInity, n), onHost(edited.coordInity, n));
  EXPECT_EQ(onHost(host_.coordInitz, n), onHost(edited.coordInitz, n));
  EXPECT_EQ(densities(host_.rou, n), densities(edited.rou, n));
  EXPECT_EQ(host_.area, 9.0f);
  EXPECT_EQ(host_.count, kPoints);

  // The device record itself lands in mllagbndHost.
  EXPECT_EQ(mirror_.mllagbndHost->area, 0.75f);
  EXPECT_EQ(mirror_.mllagbndHost->count, kPoints);
  EXPECT_EQ(mirror_.mllagbndHost->forcex, mirror_.forcex_dev);
}

TEST_F(BoundaryMirror, SetUnitParamsStoresTheUnitsAndUploads) {
  host_.area = 2.5f;
  host_.ux[3] = 42.0f;
  mirror_.setUnitParams(64.0f, 2.0f, 5.0f, 0.1f);
  EXPECT_EQ(mirror_.N, 64.0f);
  EXPECT_EQ(mirror_.l0p, 2.0f);
  EXPECT_EQ(mirror_.u0p, 5.0f);
  EXPECT_EQ(mirror_.u0k, 0.1f);
  float area = 0;
  ASSERT_EQ(cudaMemcpy(&area, &mirror_.mllaboundary_gpu->area, sizeof area, cudaMemcpyDeviceToHost), cudaSuccess);
  EXPECT_EQ(area, 2.5f);
  EXPECT_EQ(fromDevice(mirror_.ux_dev, kPoints)[3], 42.0f);
}

TEST_F(BoundaryMirror, FreeGpuReleasesEverythingOnce) {
  mirror_.freeGpu();
  EXPECT_EQ(dz::device::counters().liveAllocations, baseline_.liveAllocations);
  EXPECT_EQ(dz::device::counters().liveBytes, baseline_.liveBytes);
  EXPECT_EQ(mirror_.mllaboundary_gpu, nullptr);
  EXPECT_EQ(mirror_.ux_dev, nullptr);
  EXPECT_EQ(mirror_.forcez_dev, nullptr);
  EXPECT_EQ(mirror_.den_dev, nullptr);
  mirror_.freeGpu();  // nothing left to free
  EXPECT_EQ(cudaGetLastError(), cudaSuccess);
  EXPECT_THROW(mirror_.upload(), std::logic_error);
  EXPECT_THROW(mirror_.download(), std::logic_error);
}

TEST_F(BoundaryMirror, AllocAgainReplacesTheOldMemory) {
  mlLagrangeBoundary bigger(100, 1.0f);
  mirror_.attach(&bigger);
  mirror_.alloc();
  EXPECT_EQ(dz::device::counters().liveAllocations, baseline_.liveAllocations + 17);
  EXPECT_EQ(dz::device::counters().liveBytes, baseline_.liveBytes + sizeof(mlLagrangeBoundary) + 100 * kBytesPerPoint);
  mirror_.upload();
  mirror_.download();
  EXPECT_EQ(cudaGetLastError(), cudaSuccess);
}

TEST(BoundaryMirrorLifetime, DestructorFreesWhatAllocAllocated) {
  const auto before = dz::device::counters();
  mlLagrangeBoundary host(64, 1.0f);
  {
    IBBoundaryMemMgr mirror(0);
    mirror.attach(&host);
    mirror.alloc();
    mirror.upload();
    mirror.download();
    EXPECT_GT(dz::device::counters().liveBytes, before.liveBytes);
  }
  EXPECT_EQ(dz::device::counters().liveAllocations, before.liveAllocations);
  EXPECT_EQ(dz::device::counters().liveBytes, before.liveBytes);
  { IBBoundaryMemMgr never; }  // nothing allocated, nothing freed
  EXPECT_EQ(cudaGetLastError(), cudaSuccess);
}

TEST(BoundaryMirrorLifetime, NewMirrorHoldsNothing) {
  IBBoundaryMemMgr mirror;
  EXPECT_EQ(mirror.gpuId, 0);
  EXPECT_EQ(mirror.mllaboundary, nullptr);
  EXPECT_EQ(mirror.mllaboundary_gpu, nullptr);
  EXPECT_EQ(mirror.mllagbndHost, nullptr);
  EXPECT_EQ(mirror.coordx_dev, nullptr);
  EXPECT_EQ(mirror.N, 0.0f);
  EXPECT_EQ(mirror.u0k, 0.0f);
}

TEST(BoundaryMirrorLifetime, EmptyPointSetMirrorsWithoutError) {
  const auto before = dz::device::counters();
  mlLagrangeBoundary host(0, 1.0f);
  IBBoundaryMemMgr mirror;
  mirror.attach(&host);
  mirror.alloc();
  mirror.upload();
  mirror.download();
  mirror.freeGpu();
  EXPECT_EQ(cudaGetLastError(), cudaSuccess);
  EXPECT_EQ(dz::device::counters().liveAllocations, before.liveAllocations);
}

TEST(BoundaryMirrorLifetime, MisuseRaisesInsteadOfCopyingOutOfBounds) {
  IBBoundaryMemMgr mirror;
  EXPECT_THROW(mirror.alloc(), std::logic_error);  // nothing attached
  EXPECT_THROW(mirror.setUnitParams(1, 1, 1, 1), std::logic_error);

  mlLagrangeBoundary host(8, 1.0f);
  mirror.attach(&host);
  EXPECT_THROW(mirror.upload(), std::logic_error);  // not allocated
  mirror.alloc();

  mlLagrangeBoundary larger(9, 1.0f);
  mirror.attach(&larger);  // attached but not allocated for its size
  EXPECT_THROW(mirror.upload(), std::logic_error);
  EXPECT_THROW(mirror.download(), std::logic_error);

  mlLagrangeBoundary broken;
  broken.count = -3;
  mirror.attach(&broken);
  EXPECT_THROW(mirror.alloc(), std::invalid_argument);
  EXPECT_EQ(cudaGetLastError(), cudaSuccess);
}

}  // namespace
