#include "testModels.h"

#include <assimp/material.h>
#include <assimp/Exporter.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>
#include <utility>
#include <vector>

namespace testmodels {

namespace {

struct Weight {
  std::string bone;
  unsigned vertex;
  float weight;
};

struct MeshRecipe {
  std::string name;
  std::vector<aiVector3D> vertices;
  std::vector<aiVector3D> normals;  // empty: the mesh is written without normals
  std::vector<std::array<unsigned, 3>> triangles;
  std::vector<Weight> weights;
};

aiMatrix4x4 translation(float x, float y, float z) {
  aiMatrix4x4 m;
  aiMatrix4x4::Translation(aiVector3D(x, y, z), m);
  return m;
}

aiMatrix4x4 worldOf(const aiNode* node) {
  aiMatrix4x4 m = node->mTransformation;
  for (const aiNode* p = node->mParent; p != nullptr; p = p->mParent) m = p->mTransformation * m;
  return m;
}

// Bones are bound in the bind pose of the scene: the offset maps mesh space (the mesh nodes sit at the
// identity) into the bone's space.
aiMesh* buildMesh(const MeshRecipe& recipe, const aiNode* root) {
  auto* mesh = new aiMesh();
  mesh->mName = recipe.name;
  mesh->mPrimitiveTypes = aiPrimitiveType_TRIANGLE;
  mesh->mMaterialIndex = 0;
  mesh->mNumVertices = static_cast<unsigned>(recipe.vertices.size());
  mesh->mVertices = new aiVector3D[mesh->mNumVertices];
  std::copy(recipe.vertices.begin(), recipe.vertices.end(), mesh->mVertices);
  if (!recipe.normals.empty()) {
    mesh->mNormals = new aiVector3D[mesh->mNumVertices];
    for (unsigned v = 0; v < mesh->mNumVertices; ++v) mesh->mNormals[v] = aiVector3D(recipe.normals[v]).NormalizeSafe();
  }
  mesh->mNumFaces = static_cast<unsigned>(recipe.triangles.size());
  mesh->mFaces = new aiFace[mesh->mNumFaces];
  for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
    mesh->mFaces[f].mNumIndices = 3;
    mesh->mFaces[f].mIndices = new unsigned[3]{recipe.triangles[f][0], recipe.triangles[f][1], recipe.triangles[f][2]};
  }

  std::vector<std::string> boneNames;
  for (const Weight& w : recipe.weights)
    if (std::find(boneNames.begin(), boneNames.end(), w.bone) == boneNames.end()) boneNames.push_back(w.bone);
  mesh->mNumBones = static_cast<unsigned>(boneNames.size());
  if (mesh->mNumBones > 0) mesh->mBones = new aiBone*[mesh->mNumBones];
  for (unsigned b = 0; b < mesh->mNumBones; ++b) {
    auto* bone = new aiBone();
    bone->mName = boneNames[b];
    const aiNode* node = root->FindNode(bone->mName);
    if (node == nullptr) throw std::logic_error("bone without node: " + boneNames[b]);
    bone->mOffsetMatrix = worldOf(node).Inverse();
    std::vector<aiVertexWeight> weights;
    for (const Weight& w : recipe.weights)
      if (w.bone == boneNames[b]) weights.emplace_back(w.vertex, w.weight);
    bone->mNumWeights = static_cast<unsigned>(weights.size());
    bone->mWeights = new aiVertexWeight[weights.size()];
    std::copy(weights.begin(), weights.end(), bone->mWeights);
    mesh->mBones[b] = bone;
  }
  return mesh;
}

// Appends the meshes to the scene and hangs each on a node of its own name below `parent`.
void attachMeshes(aiScene& scene, const std::vector<std::pair<MeshRecipe, aiNode*>>& meshes) {
  scene.mNumMeshes = static_cast<unsigned>(meshes.size());
  scene.mMeshes = new aiMesh*[scene.mNumMeshes];
  for (unsigned m = 0; m < scene.mNumMeshes; ++m) {
    scene.mMeshes[m] = buildMesh(meshes[m].first, scene.mRootNode);
    aiNode* node = meshes[m].second;
    node->mNumMeshes = 1;
    node->mMeshes = new unsigned[1]{m};
  }
}

std::unique_ptr<aiScene> newScene() {
  auto scene = std::make_unique<aiScene>();
  scene->mRootNode = new aiNode("RootNode");
  scene->mNumMaterials = 1;
  scene->mMaterials = new aiMaterial*[1];
  scene->mMaterials[0] = new aiMaterial();
  aiString materialName("skin");
  scene->mMaterials[0]->AddProperty(&materialName, AI_MATKEY_NAME);
  return scene;
}

// A square tube along x: one ring of four vertices at each given x, with outward normals, and the side
// faces between neighbouring rings. Ring r, corner c is vertex 4 r + c.
void addTube(MeshRecipe& mesh, const std::vector<float>& xs, float h) {
  const float corners[4][2] = {{-h, -h}, {h, -h}, {h, h}, {-h, h}};
  for (float x : xs)
    for (const auto& c : corners) {
      mesh.vertices.emplace_back(x, c[0], c[1]);
      mesh.normals.emplace_back(0.0f, c[0], c[1]);
    }
  for (unsigned r = 0; r + 1 < xs.size(); ++r)
    for (unsigned c = 0; c < 4; ++c) {
      const unsigned a = 4 * r + c, b = 4 * r + (c + 1) % 4, a1 = a + 4, b1 = b + 4;
      mesh.triangles.push_back({a, b, b1});
      mesh.triangles.push_back({a, b1, a1});
    }
}

void ringWeights(MeshRecipe& mesh, unsigned ring, const std::vector<std::pair<std::string, float>>& bones) {
  for (unsigned c = 0; c < 4; ++c)
    for (const auto& [bone, w] : bones) mesh.weights.push_back({bone, 4 * ring + c, w});
}

}  // namespace

aiNode* addChild(aiNode* parent, const std::string& name, const aiMatrix4x4& local) {
  auto* node = new aiNode(name);
  node->mTransformation = local;
  node->mParent = parent;
  auto** children = new aiNode*[parent->mNumChildren + 1];
  std::copy(parent->mChildren, parent->mChildren + parent->mNumChildren, children);
  children[parent->mNumChildren++] = node;
  delete[] parent->mChildren;
  parent->mChildren = children;
  return node;
}

std::unique_ptr<aiScene> makeBarScene() {
  auto scene = newScene();
  aiNode* root = scene->mRootNode;
  aiNode* armature = addChild(root, "Armature", aiMatrix4x4());
  aiNode* bone0 = addChild(armature, "bone0", aiMatrix4x4());
  addChild(bone0, "bone1", translation(1, 0, 0));
  aiNode* barNode = addChild(root, "bar", aiMatrix4x4());

  MeshRecipe bar{"bar", {}, {}, {}, {}};
  addTube(bar, {0.0f, 1.0f, 2.0f}, 0.25f);
  // End caps, wound so that they face away from the bar.
  bar.triangles.push_back({0, 2, 1});
  bar.triangles.push_back({0, 3, 2});
  bar.triangles.push_back({8, 9, 10});
  bar.triangles.push_back({8, 10, 11});
  ringWeights(bar, 0, {{"bone0", 1.0f}});
  ringWeights(bar, 1, {{"bone0", 0.5f}, {"bone1", 0.5f}});
  ringWeights(bar, 2, {{"bone1", 1.0f}});
  attachMeshes(*scene, {{bar, barNode}});
  return scene;
}

std::unique_ptr<aiScene> makeCreatureScene() {
  auto scene = newScene();
  aiNode* root = scene->mRootNode;
  aiNode* armature = addChild(root, "Armature", aiMatrix4x4());
  aiNode* body = addChild(armature, "body", aiMatrix4x4());
  aiNode* spine1 = addChild(body, "spine1", translation(1, 0, 0));
  addChild(spine1, "spine2", translation(1, 0, 0));
  aiNode* tail1 = addChild(body, "tail1", translation(-1, 0, 0));
  addChild(tail1, "tail2", translation(-1, 0, 0));
  addChild(body, "finBone_L", translation(0, 0.3f, 0));
  addChild(body, "finBone_R", translation(0, -0.3f, 0));
  aiNode* bodyNode = addChild(root, "body_mesh", aiMatrix4x4());
  aiNode* finL = addChild(root, "fin_L", aiMatrix4x4());
  aiNode* finR = addChild(root, "fin_R", aiMatrix4x4());
  aiMatrix4x4 eyePlacement;
  aiMatrix4x4::RotationZ(static_cast<float>(M_PI / 4), eyePlacement);
  aiNode* eye = addChild(root, "eye", translation(2.0f, 0.2f, 0.2f) * eyePlacement);

  // Rings at x = 2 (head) .. -2 (tail), then the tail tip vertex 20, which no bone weighs.
  MeshRecipe bodyMesh{"body_mesh", {}, {}, {}, {}};
  addTube(bodyMesh, {2.0f, 1.0f, 0.0f, -1.0f, -2.0f}, 0.3f);
  bodyMesh.triangles.push_back({0, 1, 2});
  bodyMesh.triangles.push_back({0, 2, 3});
  bodyMesh.vertices.emplace_back(-2.5f, 0.0f, 0.0f);
  bodyMesh.normals.emplace_back(-1.0f, 0.0f, 0.0f);
  for (unsigned c = 0; c < 4; ++c) bodyMesh.triangles.push_back({16 + (c + 1) % 4, 16 + c, 20});
  ringWeights(bodyMesh, 0, {{"spine2", 1.0f}});
  ringWeights(bodyMesh, 1, {{"spine1", 0.2f}, {"spine2", 0.6f}});
  ringWeights(bodyMesh, 2, {{"body", 1.0f}});
  ringWeights(bodyMesh, 3, {{"body", 0.2f}, {"tail1", 0.5f}, {"tail2", 0.3f}});
  ringWeights(bodyMesh, 4, {{"tail1", 0.3f}, {"tail2", 0.7f}});

  MeshRecipe finLMesh{"fin_L",
                      {{-0.3f, 0.3f, 0}, {0.3f, 0.3f, 0}, {0.3f, 1.0f, 0}, {-0.3f, 1.0f, 0}},
                      {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 0, 1}},
                      {{0, 1, 2}, {0, 2, 3}},
                      {}};
  for (unsigned v = 0; v < 4; ++v) finLMesh.weights.push_back({"finBone_L", v, 1.0f});
  MeshRecipe finRMesh{"fin_R",
                      {{-0.3f, -0.3f, 0}, {0.3f, -0.3f, 0}, {0.3f, -1.0f, 0}, {-0.3f, -1.0f, 0}},
                      {},
                      {{0, 2, 1}, {0, 3, 2}},
                      {}};
  for (unsigned v = 0; v < 4; ++v) finRMesh.weights.push_back({"finBone_R", v, 1.0f});

  MeshRecipe eyeMesh{"eye",
                     {{0, 0, 0}, {0.1f, 0, 0}, {0, 0.1f, 0}, {0, 0, 0.1f}},
                     {{-1, -1, -1}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
                     {{0, 2, 1}, {0, 1, 3}, {0, 3, 2}, {1, 2, 3}},
                     {}};

  attachMeshes(*scene, {{bodyMesh, bodyNode}, {finLMesh, finL}, {finRMesh, finR}, {eyeMesh, eye}});
  return scene;
}

void writeFbx(const aiScene& scene, const std::string& path) {
  Assimp::Exporter exporter;
  if (exporter.Export(&scene, "fbxa", path) != AI_SUCCESS)
    throw std::runtime_error("cannot write '" + path + "': " + exporter.GetErrorString());
}

}  // namespace testmodels
