// A skeleton description built from a skinned FBX model: one joint per node that belongs to a bone, the
// joints wired into a tree under one root, one link per joint with children, the marker placements and
// the markers made from them. The skeleton JSON files and scripts tune joints and links in place by name.
#pragma once

#include <Eigen/Core>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Markers/Markers.h"
#include "MeshLoad/GpuCopyable.h"
#include "MeshLoad/SkeletalMesh.h"
#include "RenderData.h"
#include "SkeletonJoint.h"
#include "SkeletonLink.h"

class SkeletonSystem : public GpuCopyable {
 public:
  // No model: set `mesh` to a loaded model before building joints.
  SkeletonSystem() = default;
  // Loads the model and builds joints, tree and links. A model that cannot be loaded throws, naming the
  // file: a missing file std::filesystem::filesystem_error (no_such_file_or_directory), a path holding a
  // NUL character or a model that names something twice std::invalid_argument, any other failure
  // std::runtime_error with the system's reason (a folder, a file that cannot be read) or the importer's.
  SkeletonSystem(const std::string& model_file, int gpuId);

  // Inserts intermediate nodes at branching bones (once per node), makes the joints and the tree, then
  // the links. Throws std::invalid_argument, before inserting anything, when two nodes share a name or an
  // intermediate node's name is a node's.
  void buildJoints();
  // One link per joint with children, on the current pose. Throws std::invalid_argument when two links
  // would share a name.
  void buildLinks();
  // One marker per placement at the nearest vertex of any mesh (ties: the earlier mesh, the lower
  // vertex), allocated and uploaded even when there is none. Throws std::invalid_argument naming a
  // placement that no vertex is near (not finite, or farther than 1e8), leaving the markers as they were.
  void createMarkers();
  // Re-poses the model, then moves every link frame.
  void update(bool useGpu, bool download);
  // Skins the model on the device, then copies the first mesh. Throws std::logic_error without a mesh.
  std::shared_ptr<RenderData> getRenderData();
  // The joint tree depth first from the root. Throws std::logic_error without a root.
  void printJointTree() const;

  std::shared_ptr<SkeletalMesh> mesh;
  std::vector<std::shared_ptr<SkeletonJoint>> joints;  // a joint's index is its position here
  std::map<std::string, std::shared_ptr<SkeletonJoint>> jointMap;
  std::map<std::string, std::shared_ptr<SkeletonLink>> jointLinkMap;  // by the name of the link's origin joint
  std::vector<std::shared_ptr<SkeletonLink>> links;
  std::vector<Eigen::Vector3d> markerPlacements;  // in the model's global frame
  std::shared_ptr<Markers> markers;               // made by createMarkers
  std::string baseLinkName;
  std::string baseFrameName;  // the link whose frame is the reference frame
  Eigen::Vector3d baseLinkFwd{1, 0, 0};
  Eigen::Vector3d baseLinkRight{0, 0, 1};
  Eigen::Vector3d baseLinkUp{0, 1, 0};
  std::map<std::string, std::shared_ptr<SkeletonLink>> linkMap;  // by the link's name when it was built
  std::shared_ptr<SkeletonJoint> rootJoint;
  // Set while an articulated body built from this description lives: the body writes its pose into the
  // nodes, the mesh and the link frames, so a second body built from it would move with the first.
  bool usedByBody = false;
};

// A new system from the model file, as the constructor.
std::shared_ptr<SkeletonSystem> skeletonFromFBX(const std::string& fbx_name, int gpuId);
