// The point record and its device mirror: what alloc, upload, download and freeGpu move and hold.
#include <gtest/gtest.h>

#include <array>
#include <deque>
#include <memory>
#include <stdexcept>
#include <vector>

#include "duriz/mlimmersedbnd/mlLagrangeBoundary.h"
#include "immersedFixtures.h"
#include "supplement/IBBoundaryMemMgr.h"

namespace {

using immersed_test::fromDevice;
using B = mlLagrangeBoundary;
using M = IBBoundaryMemMgr;

// A host array, its device mirror, and whether download brings it back.
template <class T>
struct Array {
  T* B::*host;
  T* M::*dev;
  bool downloaded;
};
const Array<float> kFloats[] = {{&B::ux, &M::ux_dev, true},
                                {&B::uy, &M::uy_dev, true},
                                {&B::uz, &M::uz_dev, true},
                                {&B::coordx, &M::coordx_dev, true},
                                {&B::coordy, &M::coordy_dev, true},
                                {&B::coordz, &M::coordz_dev, true},
                                {&B::normalx, &M::normalx_dev, true},
                                {&B::normaly, &M::normaly_dev, true},
                                {&B::normalz, &M::normalz_dev, true},
                                {&B::coordInitx, &M::coordInitx_dev, false},
                                {&B::coordInity, &M::coordInity_dev, false},
                                {&B::coordInitz, &M::coordInitz_dev, false}};
const Array<double> kDoubles[] = {
    {&B::forcex, &M::forcex_dev, true}, {&B::forcey, &M::forcey_dev, true}, {&B::forcez, &M::forcez_dev, true}};
constexpr std::size_t kBytesPerPoint = 12 * 4 + 3 * 8 + 4;  // and the density

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
void pattern(B& b, float salt) {
  for (int a = 0; a < 12; ++a)
    for (int i = 0; i < b.count; ++i) (b.*kFloats[a].host)[i] = salt + 100.0f * a + 0.5f * i;
  for (int a = 0; a < 3; ++a)
    for (int i = 0; i < b.count; ++i) (b.*kDoubles[a].host)[i] = salt - 1000.0 * a - 0.25 * i;
  for (int i = 0; i < b.count; ++i) b.rou[i] = salt + 0.01f * i;
}

TEST(LagrangeBoundary, NewSetIsAtRestWithUnitDensity) {
  B b(5, 0.125f);
  EXPECT_EQ(b.count, 5);
  EXPECT_EQ(b.area, 0.125f);
  for (const auto& a : kFloats) EXPECT_EQ(onHost(b.*a.host, 5), std::vector<float>(5, 0.0f));
  for (const auto& a : kDoubles) EXPECT_EQ(onHost(b.*a.host, 5), std::vector<double>(5, 0.0));
  EXPECT_EQ(densities(b.rou, 5), std::vector<float>(5, 1.0f));
  EXPECT_THROW(B(-1, 1.0f), std::invalid_argument);
  EXPECT_EQ(B(0, 1.0f).count, 0);
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
  void expectLive(long allocations, std::size_t bytes) {
    EXPECT_EQ(dz::device::counters().liveAllocations, baseline_.liveAllocations + allocations);
    EXPECT_EQ(dz::device::counters().liveBytes, baseline_.liveBytes + bytes);
  }

  dz::device::Counters baseline_;
  B host_{kPoints, 0.75f};
  M mirror_;
};

TEST_F(BoundaryMirror, UploadCopiesEveryArrayAndPointsTheRecordAtThem) {
  expectLive(17, sizeof(B) + kPoints * kBytesPerPoint);  // the record and sixteen arrays
  EXPECT_EQ(mirror_.mllaboundary, &host_);
  ASSERT_NE(mirror_.mllagbndHost, nullptr);

  const int n = kPoints;
  std::unique_ptr<B, M::DeviceRecordCopyDeleter> record(new B());
  ASSERT_EQ(cudaMemcpy(record.get(), mirror_.mllaboundary_gpu, sizeof *record, cudaMemcpyDeviceToHost), cudaSuccess);
  EXPECT_EQ(record->count, kPoints);
  EXPECT_EQ(record->area, 0.75f);
  for (const auto& a : kFloats) {
    EXPECT_EQ(fromDevice(mirror_.*a.dev, n), onHost(host_.*a.host, n));
    EXPECT_EQ((*record).*a.host, mirror_.*a.dev);
  }
  for (const auto& a : kDoubles) {
    EXPECT_EQ(fromDevice(mirror_.*a.dev, n), onHost(host_.*a.host, n));
    EXPECT_EQ((*record).*a.host, mirror_.*a.dev);
  }
  EXPECT_EQ(fromDevice(reinterpret_cast<const float*>(mirror_.den_dev), n), densities(host_.rou, n));
  EXPECT_EQ(record->rou, mirror_.den_dev);

  // Arrays, the record, and the sixteen addresses written into it.
  dz::device::resetCounters();
  mirror_.upload();
  EXPECT_EQ(dz::device::counters().bytesHostToDevice, kPoints * kBytesPerPoint + sizeof(B) + 16 * sizeof(void*));
}

TEST_F(BoundaryMirror, DownloadBringsBackPositionsNormalsVelocitiesAndForces) {
  B uploaded(kPoints, 0.75f), edited(kPoints, 0.75f);
  pattern(uploaded, 3.0f);
  pattern(edited, -50.0f);
  pattern(host_, -50.0f);  // host edits after the upload
  host_.area = 9.0f;

  dz::device::resetCounters();
  mirror_.download();
  EXPECT_EQ(dz::device::counters().bytesDeviceToHost, sizeof(B) + kPoints * (9 * sizeof(float) + 3 * sizeof(double)));

  // Initial positions, densities and the scalars keep the host's values.
  const int n = kPoints;
  for (const auto& a : kFloats)
    EXPECT_EQ(onHost(host_.*a.host, n), onHost((a.downloaded ? uploaded : edited).*a.host, n));
  for (const auto& a : kDoubles) EXPECT_EQ(onHost(host_.*a.host, n), onHost(uploaded.*a.host, n));
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

TEST_F(BoundaryMirror, FreeGpuReleasesEverythingOnceAndAllocAgainReplaces) {
  mirror_.freeGpu();
  expectLive(0, 0);
  EXPECT_EQ(mirror_.mllaboundary_gpu, nullptr);
  EXPECT_EQ(mirror_.ux_dev, nullptr);
  EXPECT_EQ(mirror_.forcez_dev, nullptr);
  EXPECT_EQ(mirror_.den_dev, nullptr);
  mirror_.freeGpu();  // nothing left to free
  EXPECT_EQ(cudaGetLastError(), cudaSuccess);

  mirror_.alloc();
  B bigger(100, 1.0f);
  mirror_.attach(&bigger);
  mirror_.alloc();  // frees the 37-point arrays
  expectLive(17, sizeof(B) + 100 * kBytesPerPoint);
  mirror_.upload();
  mirror_.download();
  EXPECT_EQ(cudaGetLastError(), cudaSuccess);
}

TEST(BoundaryMirrorLifetime, DestructorFreesWhatAllocAllocated) {
  const auto before = dz::device::counters();
  for (int count : {64, 0}) {
    B host(count, 1.0f);
    M mirror(0);
    mirror.attach(&host);
    mirror.alloc();
    mirror.upload();
    mirror.download();
    EXPECT_GE(dz::device::counters().liveBytes, before.liveBytes + count * kBytesPerPoint);
  }
  EXPECT_EQ(dz::device::counters().liveAllocations, before.liveAllocations);
  EXPECT_EQ(dz::device::counters().liveBytes, before.liveBytes);
}

TEST(BoundaryMirrorLifetime, MisuseRaisesInsteadOfCopyingOutOfBounds) {
  M mirror;
  EXPECT_THROW(mirror.alloc(), std::logic_error);  // nothing attached
  EXPECT_THROW(mirror.setUnitParams(1, 1, 1, 1), std::logic_error);

  B host(8, 1.0f);
  mirror.attach(&host);
  EXPECT_THROW(mirror.upload(), std::logic_error);  // not allocated
  mirror.alloc();

  B larger(9, 1.0f);
  mirror.attach(&larger);  // attached but not allocated for its size
  EXPECT_THROW(mirror.upload(), std::logic_error);
  EXPECT_THROW(mirror.download(), std::logic_error);

  B broken;
  broken.count = -3;
  EXPECT_THROW(mirror.attach(&broken), std::invalid_argument);
  EXPECT_EQ(mirror.mllaboundary, &larger);
  broken.count = 0;
  mirror.attach(&broken);
  broken.count = -3;  // broken after attaching
  EXPECT_THROW(mirror.alloc(), std::invalid_argument);
  EXPECT_EQ(cudaGetLastError(), cudaSuccess);
}

TEST(BoundaryMirrorLifetime, AttachGivesEveryPointAHistoryQueue) {
  using Record = std::array<double, 3>;
  M mirror;
  EXPECT_EQ(mirror.historyDepth, 8);
  B five(5, 1.0f), two(2, 1.0f);
  mirror.attach(&five);
  ASSERT_EQ(mirror.history.size(), 5u);
  for (int i : {1, 4}) mirror.history[i].push_back(Record{1.0 * i, 2, 3});
  mirror.attach(&two);  // the surplus queues go
  ASSERT_EQ(mirror.history.size(), 2u);
  EXPECT_EQ(mirror.history[1], (std::deque<Record>{Record{1, 2, 3}}));
  mirror.attach(&five);  // new queues start empty
  EXPECT_TRUE(mirror.history[4].empty());
  mirror.attach(nullptr);
  EXPECT_TRUE(mirror.history.empty());
}

}  // namespace
