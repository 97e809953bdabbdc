// The link records: what updateLinkData mirrors from DART, and what applyLinkForces hands to DART.
#include <gtest/gtest.h>

#include <stdexcept>

#include "chainFixture.h"

namespace {

using namespace chain_test;

TEST(skLinkMgr, RecordsMirrorTheDartFramesAndKeepTheirWrenches) {
  MovingChain chain;
  for (auto& r : chain.links.link_data_host) setWrench(r, 7);
  chain.links.updateLinkData();
  for (int i = 0; i < kLinkCount; ++i) {
    SCOPED_TRACE(i);
    const Frame& F = chain.frame(i);
    const skLinkData& r = chain.links.link_data_host[i];
    const Eigen::Map<const Eigen::Matrix4d> T(r.worldTransform), inverse(r.inverseTransform);
    EXPECT_EQ(T, F.getWorldTransform().matrix());
    EXPECT_LT((inverse * T - Eigen::Matrix4d::Identity()).norm(), 1e-14);
    EXPECT_EQ(inverse.row(3), Eigen::RowVector4d(0, 0, 0, 1));
    // The angular part first, both parts in the frame's own axes.
    const Eigen::Map<const Eigen::Vector6d> V(r.spatialVelocity);
    const Eigen::Matrix3d Rt = F.getWorldTransform().linear().transpose();
    EXPECT_LT((V.head<3>() - Rt * F.getAngularVelocity()).norm(), 1e-12);
    EXPECT_LT((V.tail<3>() - Rt * F.getLinearVelocity()).norm(), 1e-12);
    EXPECT_EQ(r.isWorld, i == kWorld ? 1.0 : 0.0);
    EXPECT_EQ(r.torque[2], 9.0);
  }

  chain.links.addLink(std::make_shared<skLink>(Frame::WorldShared()));
  EXPECT_THROW(chain.links.updateLinkData(), std::logic_error);
  chain.links.link_data_host.emplace_back();
  EXPECT_THROW(chain.links.uploadLinkData(), std::logic_error);  // the device holds one record fewer
}

TEST(skLinkMgr, ApplyLinkForcesGivesBodyLinksTheirWrenchInBodyCoordinates) {
  MovingChain chain;
  for (int i = 0; i < kLinkCount; ++i) setWrench(chain.links.link_data_host[i], i + 1);
  chain.links.links[kLower]->description->isIntermediate = true;
  chain.links.applyLinkForces();
  EXPECT_EQ(chain.base->getExternalForceLocal(), wrenchOf(chain.links.link_data_host[kBase]));
  EXPECT_EQ(chain.upper->getExternalForceLocal(), wrenchOf(chain.links.link_data_host[kUpper]));
  EXPECT_EQ(chain.lower->getExternalForceLocal(), Eigen::Vector6d::Zero());

  // The world and one body: no link lies between the first and the last.
  skLinkMgr two(0);
  two.addLink(chain.links.links[kWorld]);
  two.addLink(chain.links.links[kUpper]);
  two.resizeLinkData();
  setWrench(two.link_data_host[1], 2);
  chain.upper->clearExternalForces();
  two.applyLinkForces();
  EXPECT_EQ(chain.upper->getExternalForceLocal(), Eigen::Vector6d::Zero());
}

}  // namespace
