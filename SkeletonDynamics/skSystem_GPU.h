// The two device jobs over an articulated body's link records and its Lagrangian points (one thread per
// point). Every pointer is a device address; boundary is the device record of the point set, and
// sampleLinkIdx holds each point's link index, ascending. A point whose index is not a record index
// (0 to linkCount - 1) makes the kernels print "LinkIdx error!!" and is skipped.
#pragma once

#include "MeshLoad/Sampler/MeshSample.h"
#include "SkeletonDynamics/skLinkData.h"

struct mlLagrangeBoundary;

// Velocity job (updateSampleVelKernel): every point's velocity becomes that of the material point of its
// link, relative to the rigid motion of record refLink and in the axes of record frameLink, rounded to
// float into ux, uy, uz. Throws std::out_of_range when refLink or frameLink is not a record index, and
// std::invalid_argument for negative counts.
void updateSampleVelGPU(mlLagrangeBoundary* boundary, const int* sampleLinkIdx, const skLinkData* records, int refLink,
                        int frameLink, int linkCount, int sampleCount);

// Force job: every point's force times scale and the point area becomes a wrench on its link
// (calExtForcesKernel, written to sampleWrenches), the wrenches are summed per link, and every record's
// torque and force become its sum: zero for links without points and for link 0, which has no body.
// Throws std::invalid_argument when the link indices are not ascending or a count is negative (the records
// then keep their wrenches), and passes on the exceptions of the summation library.
void calLinkExtForcesGPU(skLinkData* records, const mlLagrangeBoundary* boundary, const int* sampleLinkIdx,
                         SampleWrench* sampleWrenches, int linkCount, int sampleCount, float scale);
