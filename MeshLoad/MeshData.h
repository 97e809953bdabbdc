// One skinned triangle mesh of a loaded model, kept on the host and on the device, re-posed by linear
// blend skinning from the world transforms of the node hierarchy on either side.
#pragma once

#include <Eigen/Geometry>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "MeshFace.h"
#include "device_MeshData.h"
#include "nodeMgr.h"
#include "twoSideDataWrapper.h"

struct aiMesh;

// nV vertices, nF faces, nB bones.
struct host_MeshData {
  // Fills the record from one imported mesh. Positions (and bone offset translations) are divided by
  // `scale`. A mesh without normals gets area-weighted vertex normals of its triangles; point and line
  // primitives are skipped. Throws std::runtime_error for a face or weight naming a missing vertex.
  void buildFromAiMesh(const aiMesh* mesh, int nodeIdx, const std::map<std::string, int>* nameToIndex, double scale);
  // Mesh node and bone transforms from the nodes' world transforms. A bone without a node (index -1)
  // takes the mesh node's transform, so its vertices move rigidly with the mesh.
  void updateBoneTransforms(const nodeMgr& nodes);
  // Linear blend skinning of every vertex; vertices without weight follow node_transform.
  void skinCpu();

  int nodeIdx = -1;
  Eigen::Isometry3d node_transform = Eigen::Isometry3d::Identity();  // world transform of node nodeIdx
  std::vector<Eigen::Vector3d> init_positions;
  std::vector<Eigen::Vector3d> curr_positions;
  std::vector<Eigen::Vector3d> init_normals;  // unit length unless zero
  std::vector<Eigen::Vector3d> curr_normals;  // not renormalised
  std::vector<int> bone_nodeIdx;              // -1 when the bone's name is not a node name
  std::vector<Eigen::Isometry3d> bone_offset;
  std::vector<Eigen::Isometry3d> bone_transforms;  // world transform of the bone's node times its offset
  std::vector<Eigen::VectorXd> bone_weights;       // per vertex, normalised, length nB
  std::vector<double> bone_weights_arr;            // the same, row v at v * nB
  std::vector<int> bone_affected;                  // 1 when the vertex's weights sum to non-zero
  std::vector<MeshFace> faces;
  std::vector<unsigned> triangle_indices;  // vert0, vert1, vert2 of every face
  std::vector<Eigen::Vector2d> uv;         // first texture channel, (0, 0) without one
  double area = 0;                         // sum of the face areas
};

class MeshData : public twoSideDataWrapper<host_MeshData, device_MeshData> {
 public:
  // Builds the host record, then allocates and fills the device arrays.
  MeshData(const aiMesh* mesh, int nodeIdx, const std::map<std::string, int>* nameToIndex, int gpuId, double scale);
  ~MeshData();
  MeshData(const MeshData&) = delete;
  MeshData& operator=(const MeshData&) = delete;

  void allocAndUpload() override;
  // Sends the node and bone transforms only: bind pose, weights and faces stay resident.
  void upload() override;
  // Brings back the skinned normals, then positions.
  void download() override;
  void freeGpu() override;

  // Takes the mesh node and bone transforms from the (already updated) hierarchy; the manager is not kept.
  void setNodes(std::shared_ptr<nodeMgr> nodes);
  // Re-poses the mesh on the host, or on the device (optionally bringing the result back).
  void update(bool useGpu, bool download);

 private:
  void copyResultsToHost();
  void releaseDevice();
};
