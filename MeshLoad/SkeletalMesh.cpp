#include "SkeletalMesh.h"

#include <assimp/cexport.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <assimp/Exporter.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <stdexcept>
#include <string>

#include "aiTransform.h"
#include "duriz/mlsolver/requireNoNul.h"
#include "duriz/mlsolver/writeCompleteFile.h"

namespace {

// Assimp's FBX reader hands one aiBone to all clusters of a mesh whose nodes share a name, and the scene
// then frees that bone twice. Each entry gets a bone of its own, so that the scene can be freed.
void giveEachBoneItsOwn(aiScene& scene) {
  std::set<const aiBone*> seen;
  for (unsigned m = 0; m < scene.mNumMeshes; ++m) {
    aiMesh* mesh = scene.mMeshes[m];
    if (mesh == nullptr) continue;
    for (unsigned b = 0; b < mesh->mNumBones; ++b)
      if (mesh->mBones[b] != nullptr && !seen.insert(mesh->mBones[b]).second)
        mesh->mBones[b] = new aiBone(*mesh->mBones[b]);
  }
}

// Bones find their nodes by name, and so do joints, their parents and recorded channels: a name given
// twice would bind them to whichever node or bone came last.
void requireDistinctNames(const aiScene& scene) {
  for (unsigned m = 0; m < scene.mNumMeshes; ++m) {
    const aiMesh* mesh = scene.mMeshes[m];
    if (mesh == nullptr) continue;
    std::set<std::string> bones;
    for (unsigned b = 0; b < mesh->mNumBones; ++b)
      if (mesh->mBones[b] != nullptr && !bones.insert(mesh->mBones[b]->mName.C_Str()).second)
        throw std::invalid_argument("mesh '" + std::string(mesh->mName.C_Str()) + "' has two bones named '" +
                                    mesh->mBones[b]->mName.C_Str() + "'");
  }
  std::set<std::string> nodes;
  std::vector<const aiNode*> stack{scene.mRootNode};
  while (!stack.empty()) {
    const aiNode* node = stack.back();
    stack.pop_back();
    if (!nodes.insert(node->mName.C_Str()).second)
      throw std::invalid_argument("two nodes are named '" + std::string(node->mName.C_Str()) + "'");
    stack.insert(stack.end(), node->mChildren, node->mChildren + node->mNumChildren);
  }
}

// A fresh aiNodeAnim with the recorded keys of one node.
aiNodeAnim* makeChannel(const std::string& name, const AnimChannel& channel) {
  auto* out = new aiNodeAnim();
  if (name.size() < MAXLEN) out->mNodeName = name;  // longer names do not fit an aiString
  const unsigned n = static_cast<unsigned>(channel.positions.size());
  out->mNumPositionKeys = out->mNumRotationKeys = out->mNumScalingKeys = n;
  out->mPositionKeys = new aiVectorKey[n];
  out->mRotationKeys = new aiQuatKey[n];
  out->mScalingKeys = new aiVectorKey[n];
  for (unsigned k = 0; k < n; ++k) {
    out->mPositionKeys[k] = aiVectorKey(channel.times[k], channel.positions[k]);
    out->mRotationKeys[k] = aiQuatKey(channel.times[k], channel.rotations[k]);
    out->mScalingKeys[k] = aiVectorKey(channel.times[k], channel.scalings[k]);
  }
  return out;
}

}  // namespace

bool SkeletalMesh::load(const std::string& path, int gpuId) {
  requireNoNul(path, "the model path");
  this->gpuId = gpuId;
  this->path = path;
  importer.SetPropertyInteger("IMPORT_FBX_PRESERVE_PIVOTS", 0);
  // A failed read also frees the importer's previous scene: drop everything built on it.
  meshes.clear();
  nodeManager.reset();
  scene = importer.ReadFile(path, aiProcess_Triangulate);
  if (scene == nullptr) {
    std::printf("Error parsing '%s': '%s'\n", path.c_str(), importer.GetErrorString());
    return false;
  }
  // The importer's scene, not a constant one: mend it before anything can free it.
  giveEachBoneItsOwn(const_cast<aiScene&>(*scene));
  scale = 1.0;
  try {
    buildModel();
  } catch (const std::invalid_argument& e) {
    throw std::invalid_argument("cannot load the model '" + path + "': " + e.what());
  } catch (const std::runtime_error& e) {
    throw std::runtime_error("cannot load the model '" + path + "': " + e.what());
  }
  return true;
}

bool SkeletalMesh::loadScene(const aiScene* scene) {
  if (scene == nullptr || scene->mRootNode == nullptr)
    throw std::invalid_argument(scene == nullptr ? "loadScene: no scene" : "loadScene: the scene has no root node");
  // The meshes are read from the held scene: hold this one (the caller keeps it alive).
  this->scene = scene;
  meshes.clear();
  buildModel();
  return true;
}

void SkeletalMesh::buildModel() {
  try {
    requireDistinctNames(*scene);
    buildNodes(scene->mRootNode);
    buildMeshes(scene->mRootNode);
    update(false, true);
  } catch (...) {
    // A mesh with bad indices leaves the model half built: leave what a failed load leaves, so that
    // nothing poses or records it.
    const bool imported = scene == importer.GetScene();
    meshes.clear();
    nodeManager.reset();
    scene = nullptr;
    if (imported) importer.FreeScene();
    throw;
  }
}

void SkeletalMesh::buildNodes(const aiNode* root) {
  nodeManager = std::make_shared<nodeMgr>();
  nodeMgr& nodes = *nodeManager;

  // The root keeps its transform as it is: no scale removal, no division by `scale`.
  aiQuaternion rootRotation;
  aiVector3D rootPosition;
  root->mTransformation.DecomposeNoScaling(rootRotation, rootPosition);
  const std::string rootName = root->mName.C_Str();
  nodes.addNode(rootName,
                requireFiniteTransform(
                    isometryFromAi(rootRotation, Eigen::Vector3d(rootPosition.x, rootPosition.y, rootPosition.z)),
                    "node '" + rootName + "': the transform"));
  nodes.parentIdx.push_back(-1);

  // Breadth first: a scene node's position in the queue is its node index, and the children of every
  // node get one contiguous index range.
  std::vector<const aiNode*> queue{root};
  for (std::size_t i = 0; i < queue.size(); ++i) {
    const aiNode* N = queue[i];
    const int count = static_cast<int>(nodes.nodes.size());
    if (N->mNumChildren > 0) {
      nodes.childBegin.push_back(count);
      nodes.childEnd.push_back(count + static_cast<int>(N->mNumChildren));
    } else {
      nodes.childBegin.push_back(-1);
      nodes.childEnd.push_back(-1);
    }
    for (unsigned c = 0; c < N->mNumChildren; ++c) {
      const aiNode* K = N->mChildren[c];
      queue.push_back(K);
      nodes.parentIdx.push_back(static_cast<int>(i));
      const std::string name = K->mName.C_Str();
      nodes.addNode(name, requireFiniteTransform(rigidFromAiMatrix(K->mTransformation, scale),
                                                 "node '" + name + "': the transform"));
    }
  }
}

void SkeletalMesh::buildMeshes(const aiNode* node) {
  // Depth first, a node before its children, with a stack of its own: chains may be deep.
  std::vector<const aiNode*> stack{node};
  while (!stack.empty()) {
    const aiNode* n = stack.back();
    stack.pop_back();
    if (n->mNumMeshes > 0) {
      const int k = nodeManager->nameToIndex[n->mName.C_Str()];
      for (unsigned m = 0; m < n->mNumMeshes; ++m) {
        const unsigned index = n->mMeshes[m];
        if (index >= scene->mNumMeshes || scene->mMeshes[index] == nullptr)
          throw std::runtime_error("node '" + std::string(n->mName.C_Str()) + "' names mesh " + std::to_string(index) +
                                   " of a scene with " + std::to_string(scene->mNumMeshes) + " meshes");
        meshes.push_back(std::make_shared<MeshData>(scene->mMeshes[index], k, &nodeManager->nameToIndex, gpuId, scale));
      }
    }
    for (unsigned c = n->mNumChildren; c-- > 0;) stack.push_back(n->mChildren[c]);
  }
}

void SkeletalMesh::update(bool useGpu, bool download) {
  if (nodeManager == nullptr) throw std::logic_error("update: no model loaded");
  nodeManager->updateGlobalTransforms();
  for (const auto& mesh : meshes) {
    mesh->setNodes(nodeManager);
    mesh->update(useGpu, download);
  }
}

void SkeletalMesh::recordFrame() {
  if (scene == nullptr || nodeManager == nullptr) throw std::logic_error("recordFrame: no model loaded");
  frameCount += 1;
  const double t = frameCount / 24.0;  // 24 frames per second

  const std::map<std::string, int>& names = nodeManager->nameToIndex;
  std::vector<const aiNode*> stack{scene->mRootNode};
  while (!stack.empty()) {
    const aiNode* node = stack.back();
    stack.pop_back();
    for (unsigned c = 0; c < node->mNumChildren; ++c)
      if (names.count(node->mChildren[c]->mName.C_Str()) > 0) stack.push_back(node->mChildren[c]);
    const auto found = names.find(node->mName.C_Str());
    if (found == names.end()) continue;

    AnimChannel& channel = animChannels[found->first];
    const Eigen::Isometry3d& L = nodeManager->nodes[found->second]->localTrans;
    const Eigen::Quaterniond q(Eigen::Affine3d(L.matrix()).rotation());
    channel.positions.emplace_back(static_cast<float>(L.translation().x()), static_cast<float>(L.translation().y()),
                                   static_cast<float>(L.translation().z()));
    channel.rotations.emplace_back(static_cast<float>(q.w()), static_cast<float>(q.x()), static_cast<float>(q.y()),
                                   static_cast<float>(q.z()));
    channel.scalings.emplace_back(1.0f, 1.0f, 1.0f);
    channel.times.push_back(t);
  }
}

void SkeletalMesh::exportAnimationFbx(const std::string& path) {
  if (scene == nullptr) throw std::logic_error("exportAnimationFbx: no model loaded");
  aiScene* copy = nullptr;
  aiCopyScene(scene, &copy);
  for (unsigned a = 0; a < copy->mNumAnimations; ++a) delete copy->mAnimations[a];
  delete[] copy->mAnimations;

  auto* anim = new aiAnimation();
  anim->mName = "move";
  // Key times are seconds. The writer stores the take's end in whole seconds and the reader drops keys
  // past it, so the duration is the last key time rounded up.
  double lastTime = -1;
  for (const auto& entry : animChannels)
    for (double t : entry.second.times) lastTime = std::max(lastTime, t);
  if (lastTime >= 0) anim->mDuration = std::ceil(lastTime);
  anim->mNumChannels = static_cast<unsigned>(animChannels.size());
  anim->mChannels = anim->mNumChannels > 0 ? new aiNodeAnim*[anim->mNumChannels] : nullptr;
  unsigned c = 0;
  for (const auto& [name, channel] : animChannels) anim->mChannels[c++] = makeChannel(name, channel);
  copy->mNumAnimations = 1;
  copy->mAnimations = new aiAnimation* [1] { anim };

  // The ASCII writer: files of the binary one lack the records that close nested lists and do not load.
  // The exporter does not notice a failed write, so it writes to memory and the file is written here.
  Assimp::Exporter exporter;
  const aiExportDataBlob* blob = exporter.ExportToBlob(copy, "fbxa");
  aiFreeScene(copy);
  if (blob == nullptr) throw std::runtime_error("Error exporting '" + path + "': '" + exporter.GetErrorString() + "'");
  std::string failure;
  if (!writeCompleteFile(path, static_cast<const char*>(blob->data), blob->size, &failure))
    throw std::runtime_error("Error exporting '" + path + "': " + failure);
}
