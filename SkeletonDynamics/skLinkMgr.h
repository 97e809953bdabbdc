// The links of one articulated body, in link order and by name, with their records (skLinkData) on the
// host and on the device.
//
// Link order: 0 is the world (no body), then the body links, last the reference-frame link; only links 1
// to count - 2 carry bodies. Record i belongs to link i.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "SkeletonDynamics/skLink.h"
#include "SkeletonDynamics/skLinkData.h"

class skLinkMgr {
 public:
  explicit skLinkMgr(int gpuId);
  skLinkMgr(const skLinkMgr&) = delete;
  skLinkMgr& operator=(const skLinkMgr&) = delete;
  // Frees the device records.
  ~skLinkMgr();

  // Appends the link and files it under its name; a later link of the same name takes over the name.
  void addLink(std::shared_ptr<skLink> link);
  // The link filed under `name`, or an empty pointer.
  std::shared_ptr<skLink> getLink(const std::string& name) const;

  // One host record per link (new ones as skLinkData() makes them, surplus ones dropped), then device
  // records of the same count.
  void resizeLinkData();
  // Device records for the host records, freeing older ones first.
  void allocLinkData();
  void freeLinkData();
  // All records in one copy. Throw std::logic_error unless the device holds as many records as the host.
  void uploadLinkData();
  void downloadLinkData();

  // Every record's transforms, spatial velocity and world flag from its link's DART frame; the wrenches
  // are left alone.
  void updateLinkData();
  // Every body link's record wrench onto its body node, in body coordinates at the body origin, for the
  // next world step; the world, the reference frame and intermediate links are left out. Nothing happens
  // with fewer than 3 records. A wrench that is not finite or beyond kDivergedState (a diverged fluid or
  // drag) throws std::runtime_error before any is added.
  void applyLinkForces();

  int gpuId;
  std::vector<std::shared_ptr<skLink>> links;
  std::map<std::string, std::shared_ptr<skLink>> linkMap;
  std::vector<skLinkData> link_data_host;
  skLinkData* link_data_device = nullptr;

 private:
  void requireRecords(const char* operation) const;
  void requireDeviceRecords(const char* operation) const;

  std::size_t deviceCount_ = 0;  // records the device array holds
};
