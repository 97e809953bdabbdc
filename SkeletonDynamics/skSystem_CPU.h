// The host twins of the device jobs (skSystem_GPU.h): the same per-point rules over the host link records
// and the host point set, with the same results.
#pragma once

#include <Eigen/Core>

#include <vector>

#include "SkeletonDynamics/skLinkData.h"

struct mlLagrangeBoundary;

// The transform of record a relative to record b (a's world transform when b is the world, the identity
// when a and b are one record, else b's inverse times a's world transform).
Eigen::Matrix4d relativeLinkTransform(const skLinkData& a, const skLinkData& b);

// Velocity of the point p (body coordinates of `link`) relative to the rigid motion of `ref`, in the axes
// of `frame`; the records are told apart by address, as elements of one record table.
Eigen::Vector3d linkPointVelocity(const skLinkData& link, const Eigen::Vector3d& p, const skLinkData& ref,
                                  const skLinkData& frame);

// Host form of updateSampleVelGPU over boundary's host arrays; sampleLinkIdx holds one index per point.
// Throws std::out_of_range when refLink or frameLink is not a record index.
void updateSampleVelCPU(mlLagrangeBoundary& boundary, const int* sampleLinkIdx, const std::vector<skLinkData>& records,
                        int refLink, int frameLink);

// Host form of calLinkExtForcesGPU: every record's torque and force become the sum of its points'
// wrenches, zero for links without points and for link 0. The points need not be in order.
void calLinkExtForcesCPU(std::vector<skLinkData>& records, const mlLagrangeBoundary& boundary, const int* sampleLinkIdx,
                         float scale);
