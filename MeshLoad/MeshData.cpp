#include "MeshData.h"

#include <assimp/mesh.h>

#include <cstdio>
#include <stdexcept>

#include "MeshDatatGPUKernel.h"
#include "aiTransform.h"
#include "duriz/gpu_inc/deviceArray.h"

static_assert(sizeof(Eigen::Vector3d) == 3 * sizeof(double), "device arrays hold Vector3d as 3 doubles");
static_assert(sizeof(Eigen::Isometry3d) == 16 * sizeof(double), "device arrays hold Isometry3d as 16 doubles");

namespace {

// The top three rows of the blend of the bone transforms of one vertex.
Eigen::Isometry3d blendBones(const std::vector<Eigen::Isometry3d>& transforms, const double* weights) {
  Eigen::Matrix<double, 3, 4> M = Eigen::Matrix<double, 3, 4>::Zero();
  for (std::size_t b = 0; b < transforms.size(); ++b) M += weights[b] * transforms[b].matrix().topRows<3>();
  Eigen::Isometry3d T = Eigen::Isometry3d::Identity();
  T.matrix().topRows<3>() = M;
  return T;
}

}  // namespace

void host_MeshData::buildFromAiMesh(const aiMesh* mesh, int nodeIdx, const std::map<std::string, int>* nameToIndex,
                                    double scale) {
  this->nodeIdx = nodeIdx;
  area = 0;

  const unsigned nV = mesh->mNumVertices;
  init_positions.resize(nV);
  init_normals.assign(nV, Eigen::Vector3d::Zero());
  uv.assign(nV, Eigen::Vector2d::Zero());
  for (unsigned v = 0; v < nV; ++v) {
    const aiVector3D& p = mesh->mVertices[v];
    init_positions[v] = Eigen::Vector3d(p.x, p.y, p.z) / scale;
    if (mesh->mNormals != nullptr) {
      const aiVector3D& n = mesh->mNormals[v];
      init_normals[v] = Eigen::Vector3d(n.x, n.y, n.z);
    }
    if (mesh->mTextureCoords[0] != nullptr)
      uv[v] = Eigen::Vector2d(mesh->mTextureCoords[0][v].x, mesh->mTextureCoords[0][v].y);
  }

  faces.clear();
  triangle_indices.clear();
  for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
    const aiFace& face = mesh->mFaces[f];
    if (face.mNumIndices < 3) continue;  // points and lines bound no surface
    const unsigned i0 = face.mIndices[0], i1 = face.mIndices[1], i2 = face.mIndices[2];
    if (i0 >= nV || i1 >= nV || i2 >= nV)
      throw std::runtime_error("mesh '" + std::string(mesh->mName.C_Str()) + "': face " + std::to_string(f) +
                               " names a vertex beyond its " + std::to_string(nV));
    const Eigen::Vector3d cross =
        (init_positions[i1] - init_positions[i0]).cross(init_positions[i2] - init_positions[i0]);
    const double a = 0.5 * cross.norm();
    faces.push_back(
        MeshFace{0, static_cast<std::int32_t>(i0), static_cast<std::int32_t>(i1), static_cast<std::int32_t>(i2), a});
    triangle_indices.insert(triangle_indices.end(), {i0, i1, i2});
    area += a;
    // Without normals in the file, each triangle adds its normal weighted by twice its area.
    if (mesh->mNormals == nullptr)
      for (unsigned i : {i0, i1, i2}) init_normals[i] += cross;
  }
  for (Eigen::Vector3d& n : init_normals)
    if (n.squaredNorm() > 0) n /= n.norm();
  curr_positions = init_positions;
  curr_normals = init_normals;

  const unsigned nB = mesh->mNumBones;
  bone_nodeIdx.assign(nB, -1);
  bone_offset.assign(nB, Eigen::Isometry3d::Identity());
  bone_transforms.assign(nB, Eigen::Isometry3d::Identity());
  bone_weights.assign(nV, Eigen::VectorXd::Zero(nB));
  bone_weights_arr.assign(static_cast<std::size_t>(nV) * nB, 0.0);
  bone_affected.assign(nV, 0);
  for (unsigned b = 0; b < nB; ++b) {
    const aiBone* bone = mesh->mBones[b];
    const auto found = nameToIndex->find(bone->mName.C_Str());
    if (found != nameToIndex->end() && found->second != -1) {
      bone_nodeIdx[b] = found->second;
    } else {
      std::printf("add bone [%s] but not find in node hierachy\n", bone->mName.C_Str());
      bone_nodeIdx[b] = -1;
    }
    bone_offset[b] = requireFiniteTransform(
        rigidFromAiMatrix(bone->mOffsetMatrix, scale),
        "mesh '" + std::string(mesh->mName.C_Str()) + "': bone '" + bone->mName.C_Str() + "': the offset transform");
    for (unsigned w = 0; w < bone->mNumWeights; ++w) {
      const aiVertexWeight& weight = bone->mWeights[w];
      if (weight.mVertexId >= nV)
        throw std::runtime_error("mesh '" + std::string(mesh->mName.C_Str()) + "': bone '" + bone->mName.C_Str() +
                                 "' weighs a vertex beyond its " + std::to_string(nV));
      bone_weights[weight.mVertexId][b] = weight.mWeight;
    }
  }

  for (unsigned v = 0; v < nV; ++v) {
    const double s = bone_weights[v].sum();
    if (nB > 0 && s != 0) bone_weights[v] /= s;
    const double normalised = bone_weights[v].sum();
    bone_affected[v] = normalised != 0 ? 1 : 0;  // NaN counts as non-zero
    if (normalised == 0) std::printf("Exists!");
    for (unsigned b = 0; b < nB; ++b) bone_weights_arr[static_cast<std::size_t>(v) * nB + b] = bone_weights[v][b];
  }
}

void host_MeshData::updateBoneTransforms(const nodeMgr& nodes) {
  node_transform = nodes.nodes[nodeIdx]->worldTrans;
  for (std::size_t b = 0; b < bone_nodeIdx.size(); ++b) {
    const int node = bone_nodeIdx[b];
    bone_transforms[b] = node == -1 ? node_transform : nodes.nodes[node]->worldTrans * bone_offset[b];
  }
}

void host_MeshData::skinCpu() {
  const std::size_t nB = bone_nodeIdx.size();
  for (std::size_t v = 0; v < curr_positions.size(); ++v) {
    const Eigen::Isometry3d M =
        nB > 0 && bone_weights[v].sum() != 0 ? blendBones(bone_transforms, &bone_weights_arr[v * nB]) : node_transform;
    curr_positions[v] = M.linear() * init_positions[v] + M.translation();
    curr_normals[v] = M.linear() * init_normals[v];
  }
}

MeshData::MeshData(const aiMesh* mesh, int nodeIdx, const std::map<std::string, int>* nameToIndex, int gpuId,
                   double scale) {
  data_cpu.buildFromAiMesh(mesh, nodeIdx, nameToIndex, scale);
  this->gpuId = gpuId;
  allocAndUpload();
  dirty_cpu = false;
  dirty_gpu = false;
}

MeshData::~MeshData() { releaseDevice(); }

void MeshData::allocAndUpload() {
  cudaSetDevice(gpuId);
  // A device without room for the whole mesh keeps none of it.
  try {
    checkCudaAllocation(cudaMalloc(reinterpret_cast<void**>(&data_gpu.nodeIdx), sizeof(int)));
    checkCudaAllocation(cudaMalloc(reinterpret_cast<void**>(&data_gpu.node_transform), sizeof(Eigen::Isometry3d)));
    allocAndCopy(data_gpu.init_positions, data_cpu.init_positions);
    allocAndCopy(data_gpu.curr_positions, data_cpu.curr_positions);
    allocAndCopy(data_gpu.init_normals, data_cpu.init_normals);
    allocAndCopy(data_gpu.curr_normals, data_cpu.curr_normals);
    allocAndCopy(data_gpu.faces, data_cpu.faces);
    allocAndCopy(data_gpu.bone_affected, data_cpu.bone_affected);
    allocAndCopy(data_gpu.bone_weights_arr, data_cpu.bone_weights_arr);
    allocAndCopy(data_gpu.bone_transforms, data_cpu.bone_transforms);
    allocAndCopy(data_gpu.bone_offset, data_cpu.bone_offset);
    allocAndCopy(data_gpu.bone_nodeIdx, data_cpu.bone_nodeIdx);
  } catch (...) {
    releaseDevice();
    throw;
  }
}

void MeshData::upload() {
  cudaSetDevice(gpuId);
  checkCudaErrors(
      cudaMemcpy(data_gpu.node_transform, &data_cpu.node_transform, sizeof(Eigen::Isometry3d), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(data_gpu.bone_transforms, data_cpu.bone_transforms.data(),
                             data_cpu.bone_transforms.size() * sizeof(Eigen::Isometry3d), cudaMemcpyHostToDevice));
  dirty_cpu = false;
}

void MeshData::download() {
  copyResultsToHost();
  dirty_gpu = false;
}

void MeshData::copyResultsToHost() {
  cudaSetDevice(gpuId);
  const std::size_t bytes = data_cpu.init_positions.size() * sizeof(Eigen::Vector3d);
  checkCudaErrors(cudaMemcpy(data_cpu.curr_normals.data(), data_gpu.curr_normals, bytes, cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(data_cpu.curr_positions.data(), data_gpu.curr_positions, bytes, cudaMemcpyDeviceToHost));
}

void MeshData::freeGpu() {
  releaseDevice();
  dirty_cpu = false;
  dirty_gpu = false;
}

void MeshData::releaseDevice() {
  cudaSetDevice(gpuId);
  freeDevice(data_gpu.nodeIdx);
  freeDevice(data_gpu.node_transform);
  freeDevice(data_gpu.init_positions);
  freeDevice(data_gpu.curr_positions);
  freeDevice(data_gpu.init_normals);
  freeDevice(data_gpu.curr_normals);
  freeDevice(data_gpu.faces);
  freeDevice(data_gpu.bone_affected);
  freeDevice(data_gpu.bone_weights_arr);
  freeDevice(data_gpu.bone_offset);
  freeDevice(data_gpu.bone_nodeIdx);
  freeDevice(data_gpu.bone_transforms);
}

void MeshData::setNodes(std::shared_ptr<nodeMgr> nodes) {
  data_cpu.updateBoneTransforms(*nodes);
  dirty_cpu = true;
  dirty_gpu = false;
}

void MeshData::update(bool useGpu, bool download) {
  if (!useGpu) {
    data_cpu.skinCpu();
    dirty_cpu = true;
    dirty_gpu = false;
    return;
  }
  cudaSetDevice(gpuId);
  if (data_gpu.node_transform == nullptr) {  // freed: the new arrays lack the current transforms
    allocAndUpload();
    dirty_cpu = true;
  }
  if (dirty_cpu) upload();
  launchUpdateVerticesPos(
      data_gpu.node_transform, data_gpu.bone_transforms, data_gpu.bone_affected, data_gpu.bone_weights_arr,
      data_gpu.init_positions, data_gpu.curr_positions, data_gpu.init_normals, data_gpu.curr_normals,
      static_cast<int>(data_cpu.init_positions.size()), static_cast<int>(data_cpu.bone_nodeIdx.size()));
  if (download) {
    copyResultsToHost();
  } else {
    dirty_cpu = false;
    dirty_gpu = true;
  }
}
