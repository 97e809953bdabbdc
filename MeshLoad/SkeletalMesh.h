// A skinned model read from an FBX file: its node hierarchy and one MeshData per mesh reference, posed
// as a whole on the host or the device. It can also record the nodes' local transforms frame by frame
// and write them out as an FBX file with one animation.
#pragma once

#include <assimp/quaternion.h>
#include <assimp/vector3.h>
#include <assimp/Importer.hpp>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "MeshData.h"
#include "nodeMgr.h"

struct aiNode;
struct aiScene;

// The recorded keys of one node, one entry per recorded frame in each vector.
struct AnimChannel {
  std::vector<aiVector3D> positions;    // translation of the local transform
  std::vector<aiQuaternion> rotations;  // rotation of the local transform
  std::vector<aiVector3D> scalings;     // always (1, 1, 1)
  std::vector<double> times;            // seconds
};

class SkeletalMesh {
 public:
  // Imports the file (triangulated, FBX pivots folded into the nodes) and poses the bind state on the
  // host. On failure prints "Error parsing '<path>': '<reason>'" and returns false, leaving no model.
  // A mesh with a face or weight beyond its vertices throws std::runtime_error; a node transform or bone
  // offset holding a NaN or an infinity, two nodes of one name or two bones of one name in a mesh throw
  // std::invalid_argument; these name the file and also leave no model. A path holding a NUL character
  // throws std::invalid_argument and changes nothing.
  bool load(const std::string& path, int gpuId);
  // Holds `scene` (the caller keeps it alive), builds its nodes and meshes and poses it on the host.
  // Throws std::invalid_argument for a null scene or root (keeping the earlier model); throws, leaving no
  // model, what load throws for a bad scene, and std::runtime_error for a node naming a mesh the scene
  // does not have.
  bool loadScene(const aiScene* scene);
  void buildNodes(const aiNode* root);
  void buildMeshes(const aiNode* node);
  // World transforms of all nodes, then every mesh. This, recordFrame and exportAnimationFbx throw
  // std::logic_error when no model is loaded.
  void update(bool useGpu, bool download);
  // Appends the current local transform of every scene node, at frameCount / 24 seconds.
  void recordFrame();
  // Writes a copy of the scene with the recorded keys as the one animation "move". The file is ASCII FBX,
  // which load reads back. Throws std::runtime_error, leaving no partial file, when the file cannot be written, and
  // std::invalid_argument for a path holding a NUL character.
  void exportAnimationFbx(const std::string& path);
  void clearAnimation() { animChannels.clear(); }

  int gpuId = 0;
  std::vector<std::shared_ptr<MeshData>> meshes;  // in loading order: depth first, a node before its children
  std::shared_ptr<nodeMgr> nodeManager;
  std::map<std::string, AnimChannel> animChannels;  // by node name
  const aiScene* scene = nullptr;                   // owned by importer, or by the caller of loadScene
  Assimp::Importer importer;
  std::string path;
  // Divides vertex positions, bone offset translations and the translations of all nodes but node 0.
  double scale = 1.0;
  float frameCount = 0;

 private:
  // Nodes, meshes and the host pose of the held scene; on an exception drops them all and rethrows.
  void buildModel();
};
