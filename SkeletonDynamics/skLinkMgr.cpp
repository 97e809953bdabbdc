#include "skLinkMgr.h"

#include <dart/dynamics/BodyNode.hpp>
#include <dart/dynamics/Frame.hpp>

#include <cstring>
#include <stdexcept>
#include <string>

#include "SkeletonDynamics/requireFinite.h"
#include "duriz/gpu_inc/cudaCheck.h"
#include "skeleton/SkeletonLink.h"

skLinkMgr::skLinkMgr(int id) : gpuId(id) {}

skLinkMgr::~skLinkMgr() { freeLinkData(); }

void skLinkMgr::addLink(std::shared_ptr<skLink> link) {
  if (!link) throw std::invalid_argument("skLinkMgr::addLink: no link given");
  linkMap[link->name] = link;
  links.push_back(std::move(link));
}

std::shared_ptr<skLink> skLinkMgr::getLink(const std::string& name) const {
  const auto it = linkMap.find(name);
  return it == linkMap.end() ? nullptr : it->second;
}

void skLinkMgr::resizeLinkData() {
  link_data_host.resize(links.size());
  allocLinkData();
}

void skLinkMgr::allocLinkData() {
  freeLinkData();
  cudaSetDevice(gpuId);
  checkCudaErrors(cudaMalloc((void**)&this->link_data_device, sizeof(skLinkData) * this->link_data_host.size()));
  deviceCount_ = link_data_host.size();
}

void skLinkMgr::freeLinkData() {
  if (link_data_device == nullptr) return;
  cudaSetDevice(gpuId);
  checkCudaErrors(cudaFree(this->link_data_device));
  link_data_device = nullptr;
  deviceCount_ = 0;
}

void skLinkMgr::requireRecords(const char* operation) const {
  if (link_data_host.size() != links.size())
    throw std::logic_error("skLinkMgr::" + std::string(operation) + ": " + std::to_string(link_data_host.size()) +
                           " records for " + std::to_string(links.size()) + " links; resizeLinkData first");
}

void skLinkMgr::requireDeviceRecords(const char* operation) const {
  if (deviceCount_ != link_data_host.size() || (link_data_device == nullptr && !link_data_host.empty()))
    throw std::logic_error("skLinkMgr::" + std::string(operation) + ": the device holds " +
                           std::to_string(deviceCount_) + " records, the host " +
                           std::to_string(link_data_host.size()) + "; allocLinkData first");
}

void skLinkMgr::uploadLinkData() {
  requireDeviceRecords("uploadLinkData");
  cudaSetDevice(gpuId);
  checkCudaErrors(cudaMemcpy(this->link_data_device, this->link_data_host.data(),
                             sizeof(skLinkData) * this->link_data_host.size(), cudaMemcpyHostToDevice));
}

void skLinkMgr::downloadLinkData() {
  requireDeviceRecords("downloadLinkData");
  cudaSetDevice(gpuId);
  checkCudaErrors(cudaMemcpy(this->link_data_host.data(), this->link_data_device,
                             sizeof(skLinkData) * this->link_data_host.size(), cudaMemcpyDeviceToHost));
}

void skLinkMgr::updateLinkData() {
  requireRecords("updateLinkData");
  for (std::size_t i = 0; i < link_data_host.size(); ++i) {
    const dart::dynamics::Frame& F = *links[i]->frame->frame;
    skLinkData& r = link_data_host[i];
    const Eigen::Vector6d V = F.getSpatialVelocity();
    const Eigen::Isometry3d& T = F.getWorldTransform();
    Eigen::Isometry3d inverse = Eigen::Isometry3d::Identity();
    inverse.linear() = T.linear().transpose();
    inverse.translation() = -(inverse.linear() * T.translation());
    std::memcpy(r.spatialVelocity, V.data(), sizeof(r.spatialVelocity));
    std::memcpy(r.worldTransform, T.matrix().data(), sizeof(r.worldTransform));
    std::memcpy(r.inverseTransform, inverse.matrix().data(), sizeof(r.inverseTransform));
    r.isWorld = F.isWorld() ? 1.0 : 0.0;
  }
}

void skLinkMgr::applyLinkForces() {
  requireRecords("applyLinkForces");
  if (link_data_host.size() < 3) return;
  const auto wrench = [&](std::size_t i) {
    const skLinkData& r = link_data_host[i];
    Eigen::Vector6d w;
    w << r.torque[0], r.torque[1], r.torque[2], r.force[0], r.force[1], r.force[2];
    return w;
  };
  const auto takesForce = [&](std::size_t i) {
    return !(links[i]->description && links[i]->description->isIntermediate);
  };
  // Every link is checked before the first force is added, so that a refused set adds none.
  for (std::size_t i = 1; i + 1 < link_data_host.size(); ++i) {
    if (!takesForce(i)) continue;
    const skLink& link = *links[i];
    if (!link.body)
      throw std::logic_error("skLinkMgr::applyLinkForces: link " + std::to_string(i) + " (\"" + link.name +
                             "\") has no body");
    // A diverged fluid (or empirical drag) would otherwise stop the process inside DART's step.
    const Eigen::Vector6d w = wrench(i);
    if (!w.allFinite())
      throw std::runtime_error("skLinkMgr::applyLinkForces: the force on link \"" + link.name +
                               "\" is not finite: the fluid or the coupling has diverged");
    if (!(w.cwiseAbs().maxCoeff() <= kDivergedState))
      throw std::runtime_error("skLinkMgr::applyLinkForces: the force on link \"" + link.name + "\" reaches " +
                               valueText(w.cwiseAbs().maxCoeff()) + ", beyond " + valueText(kDivergedState) +
                               ", the bound on any value that enters the dynamics: the fluid or the coupling "
                               "has diverged");
  }
  for (std::size_t i = 1; i + 1 < link_data_host.size(); ++i) {
    if (!takesForce(i)) continue;
    const Eigen::Vector6d w = wrench(i);
    links[i]->body->addExtForce(w.tail<3>(), Eigen::Vector3d::Zero(), true, true);
    links[i]->body->addExtTorque(w.head<3>(), true);
  }
}
