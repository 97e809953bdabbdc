// An articulated body at run time: base axes, head placement, reference frame, face links, centre of mass,
// the empirical drag, the device and host update roads of a moving fish, and its skin following the tail.
#include <dart/simulation/World.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Markers/Markers.h"
#include "MeshLoad/Sampler/IBSamplerMesh.h"
#include "skFixture.h"
#include "testModels.h"

namespace {

using namespace sktest;

TEST(skSystemRuntime, BaseAxesHeadAndReferenceFrame) {
  EXPECT_EQ(build(handBuilt())->getBaseLinkFwd(), Vector3d(1, 0, 0));  // no base link: the default axes stay
  auto d = handBuilt();
  d->baseLinkName = "[link]bone0::bone1";
  // The base link's frame is its body's, turned with the root by 90 degrees (converted with 3.1415) about z.
  const auto body = build(d, 200, Vector3d::Zero(), Vector3d(0, 0, 90));
  const double a = 3.1415 / 2;
  EXPECT_TRUE(body->getBaseLinkFwd().isApprox(Vector3d(std::cos(a), std::sin(a), 0)));
  EXPECT_TRUE(body->getBaseLinkRight().isApprox(Vector3d(0, 0, 1)));
  EXPECT_TRUE(body->getBaseLinkUp().isApprox(Vector3d(-std::sin(a), std::cos(a), 0)));

  const auto* root = body->getJoint("bone0")->joint.get();
  const Eigen::Matrix3d before = root->getTransformFromParentBodyNode().rotation();
  body->setHead(Vector3d(1, 2, 3), body->getBaseLinkFwd());
  EXPECT_TRUE(root->getTransformFromParentBodyNode().translation().isApprox(Vector3d(1, 2, 3)));
  EXPECT_TRUE(root->getTransformFromParentBodyNode().rotation().isApprox(before));
  body->setHead(Vector3d(0, 0, 0), Vector3d(0, 0, 5));
  EXPECT_TRUE(body->getBaseLinkFwd().isApprox(Vector3d::UnitZ()));

  // The reference frame follows the frame it is given, from the next update on, in place and velocity.
  const auto& bone1 = body->getLink("[link]bone1::bone1_end");
  body->setRefFrame(bone1->frame);
  body->getJoint("bone0")->setVelocity(0, 1.0);
  body->update();
  expectNear(body->simpleFrame->getWorldTransform().translation(), bone1->body->getWorldTransform().translation());
  EXPECT_GT(bone1->body->getLinearVelocity().norm(), 0.5);
  expectNear(body->simpleFrame->getLinearVelocity(), bone1->body->getLinearVelocity());
}

TEST(skSystemRuntime, FacesGoToTheNearestLinkOfTheirDominantBone) {
  const auto d = handBuilt();
  const auto body = build(d);
  host_MeshData& mesh = d->mesh->meshes[0]->data_cpu;
  // bone0 weighs the bar below x = 1 (face centroids), bone1 above; the side link is named after neither.
  const auto check = [&](int below, int above) {
    for (MeshFace& f : mesh.faces) {
      const double x = (mesh.curr_positions[f.vert0] + mesh.curr_positions[f.vert1] + mesh.curr_positions[f.vert2]).x();
      EXPECT_EQ(f.linkIdx, x < 3 ? below : above);
      f.linkIdx = 3;
    }
  };
  check(1, 2);
  // A bone without node, or a mesh without bones, leaves its faces where they were.
  mesh.bone_nodeIdx[mesh.bone_nodeIdx[0] == d->mesh->nodeManager->nameToIndex.at("bone0") ? 0 : 1] = -1;
  body->assignFacesToLinks();
  check(3, 2);
  mesh.bone_nodeIdx.clear();
  body->assignFacesToLinks();
  check(3, 3);
}

// Samples take their faces' links again; the device copy follows at the next update, while the point order
// and the link index array that the jobs read stay as sampled.
TEST(skSystemRuntime, RefreshedSamplesTakeTheirFacesLinks) {
  const auto d = handBuilt();
  const auto body = build(d);
  IBSamplerMesh& sampler = *body->sampler;
  for (std::size_t f = 0; f < d->mesh->meshes[0]->data_cpu.faces.size(); ++f)
    d->mesh->meshes[0]->data_cpu.faces[f].linkIdx = f % 2 ? 3 : 1;
  const std::vector<int> sorted = sampler.sampleLinkIdx;
  body->refreshSampleLinks();
  for (const MeshSample& s : sampler.samples) EXPECT_EQ(s.linkIdx, s.faceIdx % 2 ? 3 : 1);
  EXPECT_TRUE(sampler.hostDirty);
  EXPECT_FALSE(sampler.deviceDirty);
  EXPECT_EQ(sampler.sampleLinkIdx, sorted);
  body->update();
  for (const MeshSample& s : deviceArray(sampler.samples_gpu, sampler.samples.size()))
    EXPECT_EQ(s.linkIdx, s.faceIdx % 2 ? 3 : 1);
}

// The bar with a free root off the origin and links of masses 1 (root), 2 (bone1) and 3 (side), in zero
// gravity.
TEST(skSystemRuntime, GeneralisedForcesMassWeightedPoseAndCentreOfMassAcceleration) {
  const auto d = handBuilt();
  d->rootJoint->setJointType(jointType::floating);
  const std::pair<const char*, double> masses[] = {{"bone0", 1}, {"bone1", 2}, {"side", 3}};
  for (const auto& [joint, mass] : masses)
    d->jointLinkMap.at(joint)->mass = mass, d->jointMap.at(joint)->useLimits = false;
  d->jointMap.at("side")->actuator = actuatorType::passive;  // its force is no command
  const Vector3d t(0.5, -1, 2);
  const auto body = build(d, 50, t);
  body->skeleton->setGravity(Vector3d::Zero());

  // Body origins at t, t + (1, 0, 0) and t + (0, 0, 1), bone1 turned by 0.6 about its axis.
  body->getJoint("bone1")->setPosition(0, 0.6);
  const Eigen::AngleAxisd turn(0.6, d->jointMap.at("bone1")->axis[0].normalized());
  Eigen::Matrix4d mean = Eigen::Matrix4d::Identity();
  mean.topLeftCorner<3, 3>() = (4 * Eigen::Matrix3d::Identity() + 2 * turn.toRotationMatrix()) / 6;
  mean.topRightCorner<3, 1>() = t + Vector3d(2, 0, 3) / 6;
  EXPECT_TRUE(body->getMassWeightedTransform().isApprox(mean, 1e-12)) << body->getMassWeightedTransform();

  // A force f on the free root's translations (world axes here), torques elsewhere, the body spinning about
  // z through its root: the centre of mass accelerates by f / M, and the linear part of its spatial
  // acceleration is that less w x v of the centre.
  Eigen::VectorXd forces = Eigen::VectorXd::Constant(body->skeleton->getNumDofs(), 0.3);
  const Vector3d f(1.5, -3, 0.75), w(0, 0, 1.5);
  forces.segment<3>(3) = f;
  body->setForces(forces);
  for (const Eigen::VectorXd& bad : {Eigen::VectorXd(Eigen::VectorXd::Zero(forces.size() - 1)),
                                     Eigen::VectorXd(Eigen::VectorXd::Constant(forces.size(), NAN)),
                                     Eigen::VectorXd(Eigen::VectorXd::Constant(forces.size(), INFINITY)),
                                     Eigen::VectorXd(Eigen::VectorXd::Constant(forces.size(), -INFINITY))})
    EXPECT_THROW(body->setForces(bad), std::invalid_argument) << bad.transpose();
  EXPECT_EQ(body->getForces(), forces);
  Eigen::VectorXd velocities = Eigen::VectorXd::Zero(forces.size());
  velocities.head<3>() = w;
  body->skeleton->setVelocities(velocities);
  body->skeleton->computeForwardDynamics();
  expectNear(body->getCOMSpatialAccelerationLinear(), f / 6 - w.cross(body->getCOMLinearVelocity()), 1e-12);
}

// The bar with a free root placed off the origin: its centre of mass motion when it spins, and the
// empirical drag when it translates. Two faces on opposite sides go to the root link, every other face to
// the world (no body, no drag); the body moves against the normal of face 0: only that face drags.
TEST(skSystemRuntime, CentreOfMassMotionAndEmpiricalDragOnAdvancingFacesOnly) {
  const auto d = handBuilt();
  d->rootJoint->setJointType(jointType::floating);
  const Vector3d t(0.5, -1, 2);
  const auto body = build(d, 200, t);
  EXPECT_DOUBLE_EQ(body->getMass(), 3.0);
  Eigen::VectorXd velocities = Eigen::VectorXd::Zero(body->skeleton->getNumDofs());
  velocities[2] = 1.5;  // the whole body spins about z through its root
  body->skeleton->setVelocities(velocities);
  EXPECT_TRUE(body->getCOMAngularVelocity().isApprox(Vector3d(0, 0, 1.5)));
  EXPECT_TRUE(body->getCOMLinearVelocity().isApprox(Vector3d(0, 0, 1.5).cross(body->getCOM() - t)));
  EXPECT_THROW(body->setCommands(Eigen::VectorXd::Zero(2)), std::invalid_argument);

  host_MeshData& mesh = d->mesh->meshes[0]->data_cpu;
  const auto normalOf = [&](const MeshFace& f) {
    return (mesh.curr_normals[f.vert0] + mesh.curr_normals[f.vert1] + mesh.curr_normals[f.vert2]).normalized();
  };
  const Vector3d n = normalOf(mesh.faces[0]);
  for (MeshFace& f : mesh.faces) f.linkIdx = normalOf(f).dot(n) < -0.5 ? 1 : 0;
  mesh.faces[0].linkIdx = 1;
  velocities.setZero();
  velocities.segment<3>(3) = -0.5 * n;  // the root's axes are the world's
  body->skeleton->setVelocities(velocities);
  body->update();
  body->empirical_force_amplifier = 10;
  body->applyEmpiricalForces();

  const MeshFace& f = mesh.faces[0];
  const Vector3d &p0 = mesh.curr_positions[f.vert0], &p1 = mesh.curr_positions[f.vert1],
                 &p2 = mesh.curr_positions[f.vert2];
  const Vector3d F = 0.5 * (p1 - p0).cross(p2 - p0).norm() * 0.5 * 10 * n;  // -area (v . n) amp n
  const auto& records = body->linkMgr->link_data_host;
  expectNear(Eigen::Map<const Vector3d>(records[1].force), F, 1e-9 * F.norm());
  const Vector3d torque =
      (body->linkMgr->links[1]->body->getWorldTransform().inverse() * ((p0 + p1 + p2) / 3)).cross(F);
  expectNear(Eigen::Map<const Vector3d>(records[1].torque), torque, 1e-9 * torque.norm());
  EXPECT_TRUE(wrenchOf(records[0]).isZero(0) && wrenchOf(records[2]).isZero(0));
}

// The fish with a free root, unlimited joints and a moving reference frame, moving: equal link records,
// points (positions and velocities) and markers on both roads.
TEST(skSystemRuntime, DeviceAndHostRoadsAgreeOnAMovingFish) {
  const auto d = fishDescription(jointType::floating);
  for (const auto& j : d->joints) j->useLimits = false;
  d->baseFrameName = "[link]tail::caudal";
  const auto body = build(d, 300);
  auto world = dart::simulation::World::create();
  world->setTimeStep(0.002);
  world->addSkeleton(body->skeleton);
  body->skeleton->setVelocities(Eigen::VectorXd::LinSpaced(body->skeleton->getNumDofs(), -1.0, 2.0));
  for (int step = 0; step < 5; ++step) world->step(), body->update();
  mlLagrangeBoundary& b = *body->sampler->boundary;
  const auto points = [&] {
    std::vector<float> all;
    for (const float* a : {b.coordx, b.coordy, b.coordz, b.ux, b.uy, b.uz}) all.insert(all.end(), a, a + b.count);
    return all;
  };
  body->linkMgr->downloadLinkData();
  body->sampler->download();
  const std::vector<skLinkData> records = body->linkMgr->link_data_host;
  const std::vector<float> devicePoints = points();
  const std::vector<Vector3d> markers = body->markers->data_cpu.pos;
  for (float* u : {b.ux, b.uy, b.uz}) std::fill(u, u + b.count, 0.0f);  // the host road must compute its own
  body->useGpu = false;
  body->update();

  ASSERT_EQ(records.size(), 5u);
  EXPECT_EQ(std::memcmp(records.data(), body->linkMgr->link_data_host.data(), 5 * sizeof(skLinkData)), 0);
  const std::vector<float> hostPoints = points();
  ASSERT_EQ(hostPoints.size(), 6u * b.count);
  ASSERT_GT(b.count, 0);
  for (std::size_t i = 0; i < hostPoints.size(); ++i) EXPECT_NEAR(devicePoints[i], hostPoints[i], 1e-5) << i;
  EXPECT_GT(*std::max_element(hostPoints.begin() + 3 * b.count, hostPoints.end()), 0.1f);  // moving
  ASSERT_EQ(markers.size(), 2u);
  for (int m = 0; m < 2; ++m) expectNear(body->markers->data_cpu.pos[m], markers[m], 1e-12 * markers[m].norm());

  // The host road sends its marker positions to the device for the next fluid step.
  world->step();
  body->update();
  const std::vector<Vector3d> moved = body->markers->data_cpu.pos;
  EXPECT_FALSE(moved[0].isApprox(markers[0]));
  body->markers->download();
  EXPECT_EQ(body->markers->data_cpu.pos, moved);
}

// A moving body resampled where it stands: as many new points as asked, at its pose and with its velocity,
// as the same points on the body built in place of the model.
TEST(skSystemRuntime, ResampledPointsStandAndMoveWithTheBody) {
  const Vector3d t(0.3, -0.2, 0.1), v(0.5, -0.25, 1);
  const auto model = build(fishDescription(jointType::floating), 150),
             body = build(fishDescription(jointType::floating), 300, t);
  Eigen::VectorXd velocities = Eigen::VectorXd::Zero(body->skeleton->getNumDofs());
  velocities.segment<3>(3) = v;  // the free root's translation, in world axes here
  body->skeleton->setVelocities(velocities);
  body->update();
  body->sample(150);
  ASSERT_EQ(body->sampler->boundary->count, 150);
  ASSERT_EQ(body->sampler->sampleLinkIdx.size(), 150u);
  const auto devicePoints = [](const skSystem& s) {
    const IBBoundaryMemMgr& m = s.sampler->memMgr;
    std::vector<std::vector<float>> a;
    for (const float* dev : {m.coordx_dev, m.coordy_dev, m.coordz_dev, m.ux_dev, m.uy_dev, m.uz_dev})
      a.push_back(deviceArray(dev, s.sampler->samples.size()));
    return a;
  };
  const auto still = devicePoints(*model), moved = devicePoints(*body);
  for (int i = 0; i < 150; ++i) {
    expectNear(Vector3d(moved[0][i], moved[1][i], moved[2][i]), Vector3d(still[0][i], still[1][i], still[2][i]) + t,
               1e-6);
    expectNear(Vector3d(moved[3][i], moved[4][i], moved[5][i]), v, 1e-6);
  }
  // A body that cannot be posed refuses before its points change.
  body->description->joints[1]->node = nullptr;
  EXPECT_THROW(body->sample(60), std::logic_error);
  EXPECT_EQ(body->sampler->boundary->count, 150);
}

TEST(skSystemRuntime, FishPointsFollowTheSkinWhenTheTailTurns) {
  const auto body = build(std::make_shared<SkeletonSystem>(kModels + "/fish.fbx", 0), 400);
  const auto pointsNow = [&] {
    body->sampler->download();
    const mlLagrangeBoundary& b = *body->sampler->boundary;
    std::vector<Vector3d> x;
    for (int i = 0; i < b.count; ++i) x.emplace_back(b.coordx[i], b.coordy[i], b.coordz[i]);
    return x;
  };
  const std::vector<Vector3d> rest = pointsNow();
  body->getJoint("tail")->setPosition(0, 0.4);
  body->update();
  const std::vector<Vector3d> bent = pointsNow();
  // Ahead of the tail's blend zone (x > 0.01) the skin stays; behind it (x < -0.08) it turns rigidly about
  // the tail joint.
  const Vector3d J(testmodels::kFishTailX, 0, 0);
  const Eigen::AngleAxisd turn(0.4, Vector3d::UnitY());
  int ahead = 0, behind = 0;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i].x() > 0.01)
      ++ahead, expectNear(bent[i], rest[i], 1e-6);
    else if (rest[i].x() < -0.08)
      ++behind, expectNear(bent[i], J + turn * (rest[i] - J), 1e-6);
  }
  EXPECT_GT(ahead, 100);
  EXPECT_GT(behind, 50);
  body->reset();
  const std::vector<Vector3d> back = pointsNow();
  for (std::size_t i = 0; i < back.size(); ++i) expectNear(back[i], rest[i], 1e-6);
}

}  // namespace
