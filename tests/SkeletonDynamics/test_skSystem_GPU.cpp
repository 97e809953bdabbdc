// The force and velocity jobs on both roads (device kernels, host twins) for points on the moving chain
// of chainFixture.h, against DART's motion and against each other.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "SkeletonDynamics/skSystem_CPU.h"
#include "SkeletonDynamics/skSystem_GPU.h"
#include "chainFixture.h"
#include "duriz/mlimmersedbnd/mlLagrangeBoundary.h"
#include "supplement/IBBoundaryMemMgr.h"

namespace {

using namespace chain_test;

constexpr float kArea = 0.01f;
constexpr float kSentinel = 42.0f;

template <class F>
std::string captureStdout(F&& f) {
  testing::internal::CaptureStdout();
  f();
  return testing::internal::GetCapturedStdout();
}

// Points on the chain with the given link indices, each at a body-coordinate position and with a force
// of its own (unless `force` is given), velocities preset to kSentinel; host record and device copies.
struct ChainPoints {
  ChainPoints(const MovingChain& chain, const std::vector<int>& links, const Vector3d* force = nullptr)
      : host(static_cast<int>(links.size()), kArea), linkIdx(links) {
    for (int i = 0; i < host.count; ++i) {
      const int l = linkIdx[i];
      const Vector3d p(0.1 + 0.07 * i, 0.05 - 0.03 * (i % 3), -0.04 + 0.02 * (i % 4));
      const Vector3d x = (l >= 0 && l < kLinkCount) ? chain.frame(l).getWorldTransform() * p : p;
      const Vector3d f = force ? *force : Vector3d(1.5 - 0.4 * i, 0.3 * i, -2.0 + 0.25 * i);
      host.coordx[i] = static_cast<float>(x.x());
      host.coordy[i] = static_cast<float>(x.y());
      host.coordz[i] = static_cast<float>(x.z());
      host.forcex[i] = f.x();
      host.forcey[i] = f.y();
      host.forcez[i] = f.z();
      host.ux[i] = host.uy[i] = host.uz[i] = kSentinel;
    }
    mirror.attach(&host);
    mirror.alloc();
    mirror.upload();
    cudaMalloc(&linkIdxDev, sizeof(int) * linkIdx.size());
    cudaMalloc(&wrenchesDev, sizeof(SampleWrench) * linkIdx.size());
    cudaMemcpy(linkIdxDev, linkIdx.data(), sizeof(int) * linkIdx.size(), cudaMemcpyHostToDevice);
  }
  ~ChainPoints() {
    cudaFree(linkIdxDev);
    cudaFree(wrenchesDev);
  }

  Vector3d x(int i) const { return Vector3d(host.coordx[i], host.coordy[i], host.coordz[i]); }
  Vector3d u(int i) const { return Vector3d(host.ux[i], host.uy[i], host.uz[i]); }

  mlLagrangeBoundary host;
  IBBoundaryMemMgr mirror;
  std::vector<int> linkIdx;
  int* linkIdxDev = nullptr;
  SampleWrench* wrenchesDev = nullptr;
};

// The force job on one road, from the chain's current host records (uploaded first for the device road).
std::vector<skLinkData> forcesOnDevice(MovingChain& chain, ChainPoints& points, float scale) {
  chain.links.uploadLinkData();
  calLinkExtForcesGPU(chain.links.link_data_device, points.mirror.mllaboundary_gpu, points.linkIdxDev,
                      points.wrenchesDev, kLinkCount, points.host.count, scale);
  chain.links.downloadLinkData();
  return chain.links.link_data_host;
}

std::vector<skLinkData> forcesOnHost(const MovingChain& chain, ChainPoints& points, float scale) {
  std::vector<skLinkData> records = chain.links.link_data_host;
  calLinkExtForcesCPU(records, points.host, points.linkIdx.data(), scale);
  return records;
}

// The velocity job on one road; the host twin works on a copy of the point set.
std::vector<Vector3d> velocitiesOnDevice(MovingChain& chain, ChainPoints& points, int ref, int frame) {
  chain.links.uploadLinkData();
  updateSampleVelGPU(points.mirror.mllaboundary_gpu, points.linkIdxDev, chain.links.link_data_device, ref, frame,
                     kLinkCount, points.host.count);
  points.mirror.download();
  std::vector<Vector3d> u;
  for (int i = 0; i < points.host.count; ++i) u.push_back(points.u(i));
  return u;
}

std::vector<Vector3d> velocitiesOnHost(const MovingChain& chain, const ChainPoints& points, int ref, int frame) {
  mlLagrangeBoundary copy(points.host.count, kArea);
  for (int i = 0; i < copy.count; ++i) {
    copy.coordx[i] = points.host.coordx[i];
    copy.coordy[i] = points.host.coordy[i];
    copy.coordz[i] = points.host.coordz[i];
    copy.ux[i] = copy.uy[i] = copy.uz[i] = kSentinel;
  }
  updateSampleVelCPU(copy, points.linkIdx.data(), chain.links.link_data_host, ref, frame);
  std::vector<Vector3d> u;
  for (int i = 0; i < copy.count; ++i) u.emplace_back(copy.ux[i], copy.uy[i], copy.uz[i]);
  return u;
}

Eigen::Matrix<double, 6, 1> wrenchOf(const skLinkData& r) {
  Eigen::Matrix<double, 6, 1> w;
  w << r.torque[0], r.torque[1], r.torque[2], r.force[0], r.force[1], r.force[2];
  return w;
}

void setWrenches(MovingChain& chain, double value) {
  for (auto& r : chain.links.link_data_host)
    for (int k = 0; k < 3; ++k) r.torque[k] = r.force[k] = value;
}

TEST(skLinkVelocities, BothRoadsGiveTheMaterialPointVelocityRelativeToTheReference) {
  MovingChain chain;
  ChainPoints points(chain, {kWorld, kBase, kBase, kUpper, kUpper, kLower, kLower, kLower});
  struct Case {
    int ref, frame;
  };
  // World reference and axes; the moving reference frame; a turning link as reference; the axes of the
  // points' own link (lower) and of another link.
  const Case cases[] = {
      {kWorld, kWorld}, {kReference, kWorld}, {kUpper, kWorld}, {kReference, kLower}, {kUpper, kBase}};
  for (const Case& c : cases) {
    SCOPED_TRACE("ref " + std::to_string(c.ref) + ", frame " + std::to_string(c.frame));
    const auto device = velocitiesOnDevice(chain, points, c.ref, c.frame);
    const auto host = velocitiesOnHost(chain, points, c.ref, c.frame);
    for (int i = 0; i < points.host.count; ++i) {
      const int l = points.linkIdx[i];
      const Vector3d x = points.x(i);
      Vector3d expected = pointVelocity(chain.frame(l), x) - pointVelocity(chain.frame(c.ref), x);
      expected = chain.frame(c.frame).getWorldTransform().linear().transpose() * expected;
      if (l == c.ref) expected.setZero();
      EXPECT_LT((device[i] - expected).norm(), 1e-5) << "point " << i << ": " << device[i].transpose();
      EXPECT_EQ(device[i], host[i]) << "point " << i;
      if (l == c.ref) {
        EXPECT_EQ(device[i], Vector3d::Zero());
      }
    }
  }
}

TEST(skLinkVelocities, BadReferenceOrPointIndicesAreRejectedOrSkipped) {
  MovingChain chain;
  ChainPoints points(chain, {-1, kBase, kLower, kLinkCount});
  std::vector<Vector3d> device, host;
  const std::string printed = captureStdout([&] {
    device = velocitiesOnDevice(chain, points, kReference, kWorld);
    host = velocitiesOnHost(chain, points, kReference, kWorld);
  });
  EXPECT_EQ(printed, "LinkIdx error!!\nLinkIdx error!!\nLinkIdx error!!\nLinkIdx error!!\n");
  for (int i : {0, 3}) {
    EXPECT_EQ(device[i], Vector3d::Constant(kSentinel));
    EXPECT_EQ(host[i], Vector3d::Constant(kSentinel));
  }
  EXPECT_EQ(device[2], host[2]);
  for (int bad : {-1, int{kLinkCount}}) {
    EXPECT_THROW(velocitiesOnDevice(chain, points, bad, kWorld), std::out_of_range);
    EXPECT_THROW(velocitiesOnDevice(chain, points, kReference, bad), std::out_of_range);
    EXPECT_THROW(velocitiesOnHost(chain, points, bad, kWorld), std::out_of_range);
  }
}

// Both roads replace every record's wrench: an older one (an empirical step's) does not survive on links
// without points, and points of link 0 (the world) reach no record.
TEST(skLinkForces, BothRoadsGatherTheSameWrenchesAndClearTheRest) {
  MovingChain chain;
  ChainPoints points(chain, {kWorld, kBase, kBase, kLower, kLower, kLower});
  setWrenches(chain, 9.0);
  std::vector<skLinkData> device, host;
  const std::string printed = captureStdout([&] {
    device = forcesOnDevice(chain, points, 2.5f);
    host = forcesOnHost(chain, points, 2.5f);
  });
  EXPECT_EQ(printed, "LinkIdx error!!\n");  // from the kernel, for the world's point
  for (int l = 0; l < kLinkCount; ++l) {
    SCOPED_TRACE(l);
    EXPECT_LE((wrenchOf(device[l]) - wrenchOf(host[l])).norm(), 1e-12 * wrenchOf(host[l]).norm());
    const bool hasPoints = l == kBase || l == kLower;
    EXPECT_EQ(wrenchOf(host[l]).isZero(0), !hasPoints);
  }
}

// The same force f on every point of one link: the body takes -scale * area * n * f, and about its origin
// the torque sum of p x F, in its own axes.
TEST(skLinkForces, AUniformForceGivesTheTotalForceAndItsTorque) {
  MovingChain chain;
  const Vector3d f(0.5, -1.0, 2.0);
  const float scale = 3.0f;
  ChainPoints points(chain, {kLower, kLower, kLower, kLower}, &f);
  const Isometry3d& T = chain.lower->getWorldTransform();
  const Vector3d F = -scale * kArea * (T.linear().transpose() * f);
  Vector3d torque = Vector3d::Zero();
  for (int i = 0; i < 4; ++i) torque += (T.inverse() * points.x(i)).cross(F);
  for (const auto& records : {forcesOnDevice(chain, points, scale), forcesOnHost(chain, points, scale)}) {
    const auto w = wrenchOf(records[kLower]);
    EXPECT_LT((w.tail<3>() - 4 * F).norm(), 1e-12);
    EXPECT_LT((T.linear() * w.tail<3>() + 4 * scale * kArea * f).norm(), 1e-12);
    EXPECT_LT((w.head<3>() - torque).norm(), 1e-12);
  }
}

TEST(skLinkForces, PointsNamingNoRecordAreSkippedAndOutOfOrderPointsRejected) {
  MovingChain chain;
  ChainPoints good(chain, {kBase, kLower});
  ChainPoints withBad(chain, {-1, kBase, kLower, kLinkCount});
  for (int i : {1, 2}) {  // the same two points as `good`
    withBad.host.coordx[i] = good.host.coordx[i - 1];
    withBad.host.coordy[i] = good.host.coordy[i - 1];
    withBad.host.coordz[i] = good.host.coordz[i - 1];
    withBad.host.forcex[i] = good.host.forcex[i - 1];
    withBad.host.forcey[i] = good.host.forcey[i - 1];
    withBad.host.forcez[i] = good.host.forcez[i - 1];
  }
  withBad.mirror.upload();
  const auto expected = forcesOnHost(chain, good, 1.0f);
  std::vector<skLinkData> device, host;
  const std::string printed = captureStdout([&] {
    device = forcesOnDevice(chain, withBad, 1.0f);
    host = forcesOnHost(chain, withBad, 1.0f);
  });
  EXPECT_EQ(printed, "LinkIdx error!!\nLinkIdx error!!\nLinkIdx error!!\nLinkIdx error!!\n");
  for (int l = 0; l < kLinkCount; ++l) {
    EXPECT_EQ(wrenchOf(device[l]), wrenchOf(expected[l])) << l;
    EXPECT_EQ(wrenchOf(host[l]), wrenchOf(expected[l])) << l;
  }

  ChainPoints unordered(chain, {kLower, kBase});
  setWrenches(chain, 9.0);
  EXPECT_THROW(forcesOnDevice(chain, unordered, 1.0f), std::invalid_argument);
  chain.links.downloadLinkData();
  EXPECT_EQ(chain.links.link_data_host[kBase].force[0], 9.0);
}

TEST(skLinkForces, NoPointsLeaveEveryWrenchZero) {
  MovingChain chain;
  ChainPoints none(chain, {});
  setWrenches(chain, 9.0);
  for (const auto& r : forcesOnDevice(chain, none, 1.0f)) EXPECT_TRUE(wrenchOf(r).isZero(0));
}

}  // namespace
