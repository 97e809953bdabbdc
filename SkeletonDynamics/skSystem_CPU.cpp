#include "skSystem_CPU.h"

#include <cstdio>
#include <stdexcept>
#include <string>

#include "SkeletonDynamics/skLinkKinematics.cuh"
#include "duriz/mlimmersedbnd/mlLagrangeBoundary.h"

namespace {

bool isRecordIndex(int l, std::size_t count) { return l >= 0 && static_cast<std::size_t>(l) < count; }

}  // namespace

Eigen::Matrix4d relativeLinkTransform(const skLinkData& a, const skLinkData& b) {
  Eigen::Matrix4d T;
  skRelativeTransform(a, b, T.data());
  return T;
}

Eigen::Vector3d linkPointVelocity(const skLinkData& link, const Eigen::Vector3d& p, const skLinkData& ref,
                                  const skLinkData& frame) {
  Eigen::Vector3d u;
  skPointVelocity(link, p.data(), ref, frame, u.data());
  return u;
}

void updateSampleVelCPU(mlLagrangeBoundary& boundary, const int* sampleLinkIdx, const std::vector<skLinkData>& records,
                        int refLink, int frameLink) {
  if (!isRecordIndex(refLink, records.size()) || !isRecordIndex(frameLink, records.size()))
    throw std::out_of_range("updateSampleVelCPU: reference link " + std::to_string(refLink) + " or frame link " +
                            std::to_string(frameLink) + " is not a link (0 to " +
                            std::to_string(static_cast<int>(records.size()) - 1) + ")");
  for (int i = 0; i < boundary.count; ++i) {
    const int l = sampleLinkIdx[i];
    if (!isRecordIndex(l, records.size())) {
      std::printf("LinkIdx error!!\n");
      continue;
    }
    const Eigen::Vector3d x(boundary.coordx[i], boundary.coordy[i], boundary.coordz[i]);
    Eigen::Vector3d p;
    skTransformPoint(records[l].inverseTransform, x.data(), p.data());
    const Eigen::Vector3d u = linkPointVelocity(records[l], p, records[refLink], records[frameLink]);
    boundary.ux[i] = static_cast<float>(u.x());
    boundary.uy[i] = static_cast<float>(u.y());
    boundary.uz[i] = static_cast<float>(u.z());
  }
}

void calLinkExtForcesCPU(std::vector<skLinkData>& records, const mlLagrangeBoundary& boundary, const int* sampleLinkIdx,
                         float scale) {
  std::vector<SampleWrench> sums(records.size(), SampleWrench{});
  const double s = static_cast<double>(scale) * static_cast<double>(boundary.area);
  for (int i = 0; i < boundary.count; ++i) {
    const int l = sampleLinkIdx[i];
    if (!isRecordIndex(l, records.size())) {
      std::printf("LinkIdx error!!\n");
      continue;
    }
    if (l == 0) continue;  // the world has no body; the device road drops these points too
    const double x[3] = {boundary.coordx[i], boundary.coordy[i], boundary.coordz[i]};
    const double f[3] = {s * boundary.forcex[i], s * boundary.forcey[i], s * boundary.forcez[i]};
    skAddWrench(sums[l], skPointWrench(records[l], x, f));
  }
  for (std::size_t l = 0; l < records.size(); ++l)
    for (int k = 0; k < 3; ++k) {
      records[l].torque[k] = sums[l].values[k];
      records[l].force[k] = sums[l].values[3 + k];
    }
}
