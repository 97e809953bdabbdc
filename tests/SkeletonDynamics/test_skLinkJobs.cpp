// The force and velocity jobs on both roads (device kernels, host twins) for points on the moving chain,
// against DART's motion and against each other.
#include "SkeletonDynamics/skSystem_CPU.h"
#include "SkeletonDynamics/skSystem_GPU.h"
#include "duriz/mlimmersedbnd/mlLagrangeBoundary.h"
#include "skFixture.h"
#include "supplement/IBBoundaryMemMgr.h"

namespace {

using namespace sktest;
using testsupport::captureStdout;

constexpr float kArea = 0.01f, kSentinel = 42.0f;
const std::string kError = "LinkIdx error!!\n";
enum class Road { device, host };

// Points on the chain with the given link indices: point i at a body position and with the force of
// pattern first + i, velocity kSentinel. Host point set and device copies.
struct ChainPoints {
  ChainPoints(const MovingChain& chain, const std::vector<int>& links, int first = 0)
      : host(static_cast<int>(links.size()), kArea), linkIdx(links) {
    for (int i = 0; i < host.count; ++i) {
      const int l = linkIdx[i], k = first + i;
      const Vector3d p(0.1 + 0.07 * k, 0.05 - 0.03 * (k % 3), -0.04 + 0.02 * (k % 4));
      const Vector3d x = (l >= 0 && l < kLinkCount) ? chain.frame(l).getWorldTransform() * p : p;
      host.coordx[i] = x.x(), host.coordy[i] = x.y(), host.coordz[i] = x.z();
      host.forcex[i] = 1.5 - 0.4 * k, host.forcey[i] = 0.3 * k, host.forcez[i] = -2.0 + 0.25 * k;
      host.ux[i] = host.uy[i] = host.uz[i] = kSentinel;
    }
    mirror.attach(&host);
    mirror.alloc();
    cudaMalloc(&linkIdxDev, sizeof(int) * linkIdx.size());
    cudaMalloc(&wrenchesDev, sizeof(SampleWrench) * linkIdx.size());
    cudaMemcpy(linkIdxDev, linkIdx.data(), sizeof(int) * linkIdx.size(), cudaMemcpyHostToDevice);
  }
  ~ChainPoints() { cudaFree(linkIdxDev), cudaFree(wrenchesDev); }
  Vector3d x(int i) const { return Vector3d(host.coordx[i], host.coordy[i], host.coordz[i]); }

  mlLagrangeBoundary host;
  IBBoundaryMemMgr mirror;
  std::vector<int> linkIdx;
  int* linkIdxDev = nullptr;
  SampleWrench* wrenchesDev = nullptr;
};

// The force job on one road, from the chain's host records, which stay as they were.
std::vector<skLinkData> forces(MovingChain& chain, ChainPoints& points, float scale, Road road) {
  std::vector<skLinkData> records = chain.links.link_data_host;
  if (road == Road::host) {
    calLinkExtForcesCPU(records, points.host, points.linkIdx.data(), scale);
    return records;
  }
  chain.links.uploadLinkData();
  points.mirror.upload();
  calLinkExtForcesGPU(chain.links.link_data_device, points.mirror.mllaboundary_gpu, points.linkIdxDev,
                      points.wrenchesDev, kLinkCount, points.host.count, scale);
  chain.links.downloadLinkData();
  std::swap(records, chain.links.link_data_host);
  return records;
}

// The velocity job on one road; the points get kSentinel back.
std::vector<Vector3d> velocities(MovingChain& chain, ChainPoints& points, int ref, int frame, Road road) {
  if (road == Road::host) {
    updateSampleVelCPU(points.host, points.linkIdx.data(), chain.links.link_data_host, ref, frame);
  } else {
    chain.links.uploadLinkData();
    points.mirror.upload();
    updateSampleVelGPU(points.mirror.mllaboundary_gpu, points.linkIdxDev, chain.links.link_data_device, ref, frame,
                       kLinkCount, points.host.count);
    points.mirror.download();
  }
  std::vector<Vector3d> u;
  for (int i = 0; i < points.host.count; ++i) {
    u.emplace_back(points.host.ux[i], points.host.uy[i], points.host.uz[i]);
    points.host.ux[i] = points.host.uy[i] = points.host.uz[i] = kSentinel;
  }
  return u;
}

TEST(skLinkJobs, BothRoadsGiveTheMaterialPointVelocityRelativeToTheReference) {
  MovingChain chain;
  ChainPoints points(chain, {kWorld, kBase, kBase, kUpper, kUpper, kLower, kLower, kLower});
  // World reference and axes; the moving reference frame; a turning link as reference; the axes of the
  // points' own link (lower) and of another link.
  const std::pair<int, int> cases[] = {
      {kWorld, kWorld}, {kReference, kWorld}, {kUpper, kWorld}, {kReference, kLower}, {kUpper, kBase}};
  for (const auto& [ref, frame] : cases) {
    SCOPED_TRACE("ref " + std::to_string(ref) + ", frame " + std::to_string(frame));
    const auto device = velocities(chain, points, ref, frame, Road::device);
    const auto host = velocities(chain, points, ref, frame, Road::host);
    for (int i = 0; i < points.host.count; ++i) {
      const int l = points.linkIdx[i];
      const Vector3d expected =
          chain.frame(frame).getWorldTransform().linear().transpose() *
          (pointVelocity(chain.frame(l), points.x(i)) - pointVelocity(chain.frame(ref), points.x(i)));
      expectNear(device[i], expected, 1e-5);
      EXPECT_EQ(device[i], host[i]) << "point " << i;
      EXPECT_TRUE(l != ref || device[i] == Vector3d::Zero()) << "point " << i;
    }
  }
}

// Both roads replace every record's wrench with the sum over the link's points of the reaction
// F = -scale area f in body axes and its moment p x F about the link origin: an older wrench (an empirical
// step's) does not survive on links without points, and points of link 0 (the world) reach no record.
TEST(skLinkJobs, BothRoadsGatherTheReactionWrenchesAndClearTheRest) {
  MovingChain chain;
  ChainPoints points(chain, {kWorld, kBase, kBase, kLower, kLower, kLower}), none(chain, {});
  for (auto& r : chain.links.link_data_host) setWrench(r, 9.0);
  const float scale = 2.5f;
  std::vector<Eigen::Vector6d> expected(kLinkCount, Eigen::Vector6d::Zero());
  for (int i = 1; i < points.host.count; ++i) {  // point 0 is the world's
    const Isometry3d& T = chain.frame(points.linkIdx[i]).getWorldTransform();
    const Vector3d f(points.host.forcex[i], points.host.forcey[i], points.host.forcez[i]);
    const Vector3d F = -double(scale) * double(kArea) * (T.linear().transpose() * f);
    expected[points.linkIdx[i]] += (Eigen::Vector6d() << (T.inverse() * points.x(i)).cross(F), F).finished();
  }
  std::vector<skLinkData> device, host;
  EXPECT_EQ(captureStdout([&] {
              device = forces(chain, points, scale, Road::device);
              host = forces(chain, points, scale, Road::host);
            }),
            kError);  // from the kernel, for the world's point
  for (int l = 0; l < kLinkCount; ++l) {
    SCOPED_TRACE(l);
    expectNear(wrenchOf(host[l]), expected[l], 1e-12 * expected[l].norm());
    expectNear(wrenchOf(device[l]), wrenchOf(host[l]), 1e-12 * expected[l].norm());
  }
  for (const auto& r : forces(chain, none, 1.0f, Road::device)) EXPECT_TRUE(wrenchOf(r).isZero(0));
}

// Indices below 0 and at or above the link count print the message and leave their point out; reference
// and frame links that name no record, and points out of order, are rejected.
TEST(skLinkJobs, PointsNamingNoRecordAreSkippedAndBadArgumentsRejected) {
  MovingChain chain;
  ChainPoints good(chain, {kBase, kLower}, 1), withBad(chain, {-1, kBase, kLower, kLinkCount});
  const auto expected = forces(chain, good, 1.0f, Road::host);
  const std::string printed = captureStdout([&] {
    for (Road road : {Road::device, Road::host}) {
      const auto records = forces(chain, withBad, 1.0f, road);
      for (int l = 0; l < kLinkCount; ++l) EXPECT_EQ(wrenchOf(records[l]), wrenchOf(expected[l])) << l;
      const auto u = velocities(chain, withBad, kReference, kWorld, road);
      EXPECT_EQ(u[0], Vector3d::Constant(kSentinel));
      EXPECT_EQ(u[3], Vector3d::Constant(kSentinel));
    }
  });
  EXPECT_EQ(printed, kError + kError + kError + kError + kError + kError + kError + kError);
  for (int bad : {-1, int{kLinkCount}}) {
    EXPECT_THROW(velocities(chain, good, bad, kWorld, Road::device), std::out_of_range);
    EXPECT_THROW(velocities(chain, good, kReference, bad, Road::device), std::out_of_range);
    EXPECT_THROW(velocities(chain, good, bad, kWorld, Road::host), std::out_of_range);
  }
  ChainPoints unordered(chain, {kLower, kBase});
  for (auto& r : chain.links.link_data_host) setWrench(r, 9.0);
  EXPECT_THROW(forces(chain, unordered, 1.0f, Road::device), std::invalid_argument);
  chain.links.downloadLinkData();
  EXPECT_EQ(chain.links.link_data_host[kBase].force[0], -9.0);
}

}  // namespace
