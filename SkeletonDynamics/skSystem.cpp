// An articulated body after construction: the update roads, the coupling forces, the reference frame,
// the base axes, the markers, and the queries and commands offered to scripts.
#include "skSystem.h"

#include <dart/dynamics/BodyNode.hpp>
#include <dart/dynamics/SimpleFrame.hpp>
#include <dart/dynamics/Skeleton.hpp>

#include <stdexcept>
#include <string>

#include "Markers/Markers.h"
#include "Markers/MarkersGPUKernel.h"
#include "MeshLoad/Sampler/IBSamplerMesh.h"
#include "SkeletonDynamics/requireFinite.h"
#include "SkeletonDynamics/skJointMgr.h"
#include "SkeletonDynamics/skLinkMgr.h"
#include "SkeletonDynamics/skSystem_CPU.h"
#include "SkeletonDynamics/skSystem_GPU.h"
#include "skeleton/SkeletonSystem.h"

using dart::dynamics::Frame;

namespace {

// Column-major 4 x 4 of a link record.
Eigen::Isometry3d isometry(const double* m) {
  Eigen::Isometry3d T;
  T.matrix() = Eigen::Map<const Eigen::Matrix4d>(m);
  return T;
}

Eigen::Vector3d faceCentroid(const host_MeshData& mesh, const MeshFace& f) {
  return (mesh.curr_positions[f.vert0] + mesh.curr_positions[f.vert1] + mesh.curr_positions[f.vert2]) / 3.0;
}

}  // namespace

void skSystem::update() {
  requireNodes("update");
  if (useGpu)
    updateGPU(download);
  else
    updateCPU();
}

void skSystem::requireNodes(const char* operation) const {
  const auto require = [&](const SkeletonJoint& joint) {
    if (!joint.node)
      throw std::logic_error(std::string(operation) + ": joint \"" + joint.name + "\" of body \"" +
                             skeleton->getName() + "\" has no hierarchy node; give it back its node");
  };
  for (const auto& joint : jointMgr->joints) require(*joint->description);
  for (const auto& link : description->links) {
    if (link->parentJoint) require(*link->parentJoint);
    for (const auto& child : link->childJoints) require(*child);
  }
}

void skSystem::updateCPU() {
  updateBaseLinkAxes();
  updateRefFrame();
  jointMgr->update();
  linkMgr->updateLinkData();
  description->update(false, false);
  updateMarkers(false);
  sampler->update(false, false);
  updateSampleVelocities();
}

void skSystem::updateGPU(bool download) {
  cudaSetDevice(gpuId);
  updateBaseLinkAxes();
  updateRefFrame();
  jointMgr->update();
  linkMgr->updateLinkData();
  linkMgr->uploadLinkData();
  description->update(true, download);
  updateMarkers(true);
  sampler->update(true, download);
  updateSampleVelocitiesGPU();
}

void skSystem::updateEmpirical() {
  updateBaseLinkAxes();
  updateRefFrame();
  jointMgr->update();
  linkMgr->updateLinkData();
  description->mesh->update(true, true);
  updateMarkers(true);
}

void skSystem::applyFluidForces(float scale) {
  if (useGpu)
    applyFluidForcesGPU(scale);
  else
    applyFluidForcesCPU(scale);
}

void skSystem::applyFluidForcesGPU(float scale) {
  if (sampler->boundary)
    calLinkExtForcesGPU(linkMgr->link_data_device, sampler->memMgr.mllaboundary_gpu, sampler->sampleLinkIdx_gpu,
                        sampler->sampleWrenches_gpu, static_cast<int>(linkMgr->link_data_host.size()),
                        static_cast<int>(sampler->samples.size()), scale);
  linkMgr->downloadLinkData();
  linkMgr->applyLinkForces();
}

void skSystem::applyFluidForcesCPU(float scale) {
  if (sampler->boundary) {
    sampler->download();
    calLinkExtForcesCPU(linkMgr->link_data_host, *sampler->boundary, sampler->sampleLinkIdx.data(), scale);
  }
  linkMgr->applyLinkForces();
}

void skSystem::updateSampleVelocities() {
  if (!sampler->boundary) return;
  updateSampleVelCPU(*sampler->boundary, sampler->sampleLinkIdx.data(), linkMgr->link_data_host, refLinkIdx,
                     frameLinkIdx);
  sampler->upload();
}

void skSystem::updateSampleVelocitiesGPU() {
  if (!sampler->boundary) return;
  updateSampleVelGPU(sampler->memMgr.mllaboundary_gpu, sampler->sampleLinkIdx_gpu, linkMgr->link_data_device,
                     refLinkIdx, frameLinkIdx, static_cast<int>(linkMgr->link_data_host.size()),
                     static_cast<int>(sampler->samples.size()));
}

void skSystem::applyEmpiricalForces() {
  std::vector<skLinkData>& records = linkMgr->link_data_host;
  std::vector<Eigen::Matrix<double, 6, 1>> wrench(records.size(), Eigen::Matrix<double, 6, 1>::Zero());
  for (const auto& meshData : description->mesh->meshes) {
    const host_MeshData& mesh = meshData->data_cpu;
    for (const MeshFace& f : mesh.faces) {
      // Links 0 and count - 1 (the world and the reference frame) have no body to drag.
      if (f.linkIdx <= 0 || f.linkIdx + 1 >= static_cast<int>(records.size())) continue;
      const Eigen::Vector3d &p0 = mesh.curr_positions[f.vert0], &p1 = mesh.curr_positions[f.vert1],
                            &p2 = mesh.curr_positions[f.vert2];
      const Eigen::Vector3d c = faceCentroid(mesh, f);
      Eigen::Vector3d n = (mesh.curr_normals[f.vert0] + mesh.curr_normals[f.vert1] + mesh.curr_normals[f.vert2]) / 3.0;
      if (n.norm() > 0) n.normalize();
      const double area = 0.5 * (p1 - p0).cross(p2 - p0).norm();
      const Eigen::Vector3d v = linkMgr->links[f.linkIdx]->getPointVelocity(c);
      const Eigen::Vector3d drag = -area * std::min(v.dot(n), 0.0) * empirical_force_amplifier * n;

      const Eigen::Isometry3d inverse = isometry(records[f.linkIdx].inverseTransform);
      const Eigen::Vector3d F = inverse.linear() * drag;
      const Eigen::Vector3d p = inverse * c;
      wrench[f.linkIdx].head<3>() += p.cross(F);
      wrench[f.linkIdx].tail<3>() += F;
    }
  }
  for (std::size_t l = 0; l < records.size(); ++l)
    for (int k = 0; k < 3; ++k) {
      records[l].torque[k] = wrench[l][k];
      records[l].force[k] = wrench[l][3 + k];
    }
  linkMgr->applyLinkForces();
}

void skSystem::setEmpiricalForceAmplifier(double amplifier) {
  // A negative gain drives the faces instead of braking them, and the body diverges.
  const std::string what = "empirical_force_amplifier";
  empirical_force_amplifier = requireNotNegative(requireBounded(amplifier, what), what);
}

void skSystem::assignFacesToLinks() {
  const auto& links = linkMgr->links;
  const auto& nodes = description->mesh->nodeManager->nodes;
  for (const auto& meshData : description->mesh->meshes) {
    host_MeshData& mesh = meshData->data_cpu;
    const std::size_t boneCount = mesh.bone_nodeIdx.size();
    if (boneCount == 0) continue;
    for (MeshFace& f : mesh.faces) {
      const Eigen::VectorXd meanWeight =
          (mesh.bone_weights[f.vert0] + mesh.bone_weights[f.vert1] + mesh.bone_weights[f.vert2]) / 3.0;
      std::size_t dominant = 0;
      for (std::size_t b = 1; b < boneCount; ++b)
        if (meanWeight[b] > meanWeight[dominant]) dominant = b;
      const int node = mesh.bone_nodeIdx[dominant];
      if (node < 0 || static_cast<std::size_t>(node) >= nodes.size()) continue;  // a bone without node
      const std::string& bone = nodes[node]->name;

      const Eigen::Vector3d c = faceCentroid(mesh, f);
      float best = 1e8f;
      for (std::size_t l = 1; l + 1 < links.size(); ++l) {
        const SkeletonLink* link = links[l]->description.get();
        if (link == nullptr || link->isIntermediate) continue;
        bool named = link->parentJoint && link->parentJoint->node &&
                     link->parentJoint->node->name.find(bone) != std::string::npos;
        for (const auto& child : link->childJoints) named = named || child->name.find(bone) != std::string::npos;
        if (!named) continue;
        const double distance = (links[l]->getPosition() - c).norm();
        if (distance < best) {
          best = static_cast<float>(distance);
          f.linkIdx = static_cast<int>(l);
        }
      }
    }
  }
}

void skSystem::createRefFrame() {
  simpleFrame = std::make_shared<dart::dynamics::SimpleFrame>(Frame::World(), "simple_frame");
  linkMgr->addLink(std::make_shared<skLink>(simpleFrame));
  refLinkIdx = static_cast<int>(linkMgr->links.size()) - 1;
  frameLinkIdx = 0;
  if (baseFrameName.empty()) {
    refFrame = linkMgr->links[0]->frame->frame;
    return;
  }
  const auto link = linkMgr->getLink(baseFrameName);
  if (!link) throw std::invalid_argument("skSystem: the base frame name \"" + baseFrameName + "\" names no link");
  refFrame = link->frame->frame;
}

void skSystem::updateRefFrame() {
  simpleFrame->setTranslation(refFrame->getWorldTransform().translation());
  simpleFrame->setClassicDerivatives(refFrame->getLinearVelocity(), Eigen::Vector3d::Zero(),
                                     refFrame->getLinearAcceleration(), Eigen::Vector3d::Zero());
}

void skSystem::setRefFrame(const std::shared_ptr<skFrame>& frame) { ::setRefFrame(refFrame, frame); }

void skSystem::updateBaseLinkAxes() {
  if (baseLinkName.empty()) return;  // e.g. a body from an FBX model alone: keep the default axes
  const Eigen::Quaterniond R(linkMgr->getLink(baseLinkName)->frame->frame->getWorldTransform().rotation());
  baseLinkFwd = R * Eigen::Vector3d(1, 0, 0);
  baseLinkRight = R * Eigen::Vector3d(0, 0, 1);
  baseLinkUp = R * Eigen::Vector3d(0, 1, 0);
}

void skSystem::updateMarkers(bool gpu) {
  Markers_CPU& m = markers->data_cpu;
  const auto& meshes = description->mesh->meshes;
  const auto onMesh = [&](std::size_t i) {
    return m.meshIdx[i] >= 0 && static_cast<std::size_t>(m.meshIdx[i]) < meshes.size();
  };
  if (!gpu) {
    for (std::size_t i = 0; i < m.vId.size(); ++i) {
      if (!onMesh(i)) continue;
      const host_MeshData& mesh = meshes[m.meshIdx[i]]->data_cpu;
      if (m.vId[i] < 0 || static_cast<std::size_t>(m.vId[i]) >= mesh.curr_positions.size()) continue;
      m.pos[i] = mesh.curr_positions[m.vId[i]];
      m.normal[i] = mesh.curr_normals[m.vId[i]];
    }
    markers->upload();  // the next fluid step samples the new positions
    return;
  }
  // One launch per run of markers on the same mesh, each reading its own mesh's vertices.
  for (std::size_t begin = 0, end; begin < m.vId.size(); begin = end) {
    for (end = begin + 1; end < m.vId.size() && m.meshIdx[end] == m.meshIdx[begin];) ++end;
    if (!onMesh(begin)) continue;
    const device_MeshData& mesh = meshes[m.meshIdx[begin]]->data_gpu;
    launchCopyMarkersPosNormal(markers->data_gpu.vId + begin, markers->data_gpu.pos + 3 * begin,
                               markers->data_gpu.normal + 3 * begin, mesh.curr_positions, mesh.curr_normals,
                               static_cast<int>(end - begin));
  }
  markers->download();
}

void skSystem::setHead(const Eigen::Vector3d& position, const Eigen::Vector3d& target_orientation) {
  requireNodes("setHead");
  requireBounded(position, "setHead: the position");
  Eigen::Vector3d a = baseLinkFwd, b = requireBounded(target_orientation, "setHead: the target orientation");
  if (a.norm() > 0) a.normalize();
  if (b.norm() > 0) b.normalize();
  const Eigen::Quaterniond q = Eigen::Quaterniond::FromTwoVectors(a, b);
  const std::shared_ptr<SkeletonJoint>& root = description->rootJoint;
  Eigen::Isometry3d T = Eigen::Isometry3d::Identity();
  T.linear() = q.toRotationMatrix() * root->node->localTransform().rotation();
  T.translation() = position;
  jointMgr->getJoint(root->name)->joint->setTransformFromParentBodyNode(T);
  update();
  updateBaseLinkAxes();
}

// The sampler places new points on the host skin, which the device road does not keep current, at rest:
// the update brings them to the body's pose and motion before a fluid step reads them.
void skSystem::sample(int sampleNum) {
  requireNodes("sample");
  sampler->sample(sampleNum);
  update();
}

void skSystem::reset() {
  requireNodes("reset");
  skeleton->setPositions(initialPositions);
  skeleton->resetCommands();
  skeleton->setVelocities(initialVelocities);
  skeleton->resetGeneralizedForces();
  skeleton->resetAccelerations();
  update();
}

std::shared_ptr<skLink> skSystem::getBaseLink() const { return linkMgr->getLink(baseLinkName); }

std::shared_ptr<skLink> skSystem::getLink(const std::string& name) const { return linkMgr->getLink(name); }

std::shared_ptr<skJoint> skSystem::getJoint(const std::string& name) const { return jointMgr->getJoint(name); }

std::size_t skSystem::getNumDofs() const { return actuatedDofs.size(); }

std::size_t skSystem::baseDofs() const {
  return skeleton->getNumJoints() == 0 ? 0 : skeleton->getJoint(0)->getNumDofs();
}

Eigen::VectorXd skSystem::getVelocities(bool includeBase) const {
  const Eigen::VectorXd v = skeleton->getVelocities();
  return includeBase ? v : Eigen::VectorXd(v.tail(v.size() - baseDofs()));
}

Eigen::VectorXd skSystem::getPositions(bool includeBase) const {
  const Eigen::VectorXd q = skeleton->getPositions();
  return includeBase ? q : Eigen::VectorXd(q.tail(q.size() - baseDofs()));
}

Eigen::VectorXd skSystem::getAccelerations(bool includeBase) const {
  const Eigen::VectorXd a = skeleton->getAccelerations();
  return includeBase ? a : Eigen::VectorXd(a.tail(a.size() - baseDofs()));
}

Eigen::Vector3d skSystem::getCOM() const { return skeleton->getCOM(Frame::World()); }

double skSystem::getMass() const { return skeleton->getMass(); }

Eigen::Vector3d skSystem::getCOMLinearVelocity() const {
  return skeleton->getCOMLinearVelocity(Frame::World(), Frame::World());
}

// The angular half of the centre-of-mass spatial velocity, which DART orders angular first.
Eigen::Vector3d skSystem::getCOMAngularVelocity() const {
  return skeleton->getCOMSpatialVelocity(Frame::World(), Frame::World()).head<3>();
}

Eigen::Vector3d skSystem::getCOMLinearAcceleration() const {
  return skeleton->getCOMLinearAcceleration(Frame::World(), Frame::World());
}

Eigen::Vector3d skSystem::getCOMSpatialAccelerationLinear() const {
  return skeleton->getCOMSpatialAcceleration(Frame::World(), Frame::World()).tail<3>();
}

Eigen::VectorXd skSystem::getForceUpperLimits() const { return skeleton->getForceUpperLimits(actuatedDofs); }

Eigen::VectorXd skSystem::getForceLowerLimits() const { return skeleton->getForceLowerLimits(actuatedDofs); }

Eigen::VectorXd skSystem::getCommands() const { return skeleton->getCommands(actuatedDofs); }

void skSystem::setCommands(const Eigen::VectorXd& commands) {
  if (static_cast<std::size_t>(commands.size()) != actuatedDofs.size())
    throw std::invalid_argument("setCommands: " + std::to_string(commands.size()) + " commands for " +
                                std::to_string(actuatedDofs.size()) + " actuated degrees of freedom");
  skeleton->setCommands(actuatedDofs, requireBounded(commands, "setCommands: the commands"));
}

Eigen::VectorXd skSystem::getForces() const { return skeleton->getForces(); }

void skSystem::setForces(const Eigen::VectorXd& forces) {
  if (static_cast<std::size_t>(forces.size()) != skeleton->getNumDofs())
    throw std::invalid_argument("setForces: " + std::to_string(forces.size()) + " forces for " +
                                std::to_string(skeleton->getNumDofs()) + " degrees of freedom");
  skeleton->setForces(requireBounded(forces, "setForces: the forces"));
}

Eigen::Matrix4d skSystem::getMassWeightedTransform() const {
  Eigen::Matrix4d sum = Eigen::Matrix4d::Zero();
  double mass = 0;
  for (std::size_t i = 0; i < skeleton->getNumBodyNodes(); ++i) {
    const auto* body = skeleton->getBodyNode(i);
    sum += body->getMass() * body->getWorldTransform().matrix();
    mass += body->getMass();
  }
  sum /= mass;
  sum.row(3) << 0, 0, 0, 1;
  return sum;
}

std::shared_ptr<RenderData> skSystem::getRenderData() const { return description->getRenderData(); }

void skSystem::refreshSampleLinks() {
  const auto& meshes = description->mesh->meshes;
  for (MeshSample& s : sampler->samples) s.linkIdx = meshes[s.meshIdx]->data_cpu.faces[s.faceIdx].linkIdx;
  sampler->hostDirty = true;
  sampler->deviceDirty = false;
}
