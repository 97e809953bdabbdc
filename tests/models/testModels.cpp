#include "testModels.h"

#include <assimp/material.h>
#include <assimp/Exporter.hpp>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>
#include <vector>

namespace testmodels {

std::unique_ptr<aiMesh> makeMesh(const std::vector<aiVector3D>& vertices, const std::vector<aiVector3D>& normals,
                                 const std::vector<std::vector<unsigned>>& faces, const std::vector<BoneSpec>& bones) {
  auto mesh = std::make_unique<aiMesh>();
  mesh->mName = "m";
  mesh->mNumVertices = static_cast<unsigned>(vertices.size());
  mesh->mVertices = copyOf(vertices);
  mesh->mNormals = copyOf(normals);
  mesh->mNumFaces = static_cast<unsigned>(faces.size());
  if (!faces.empty()) mesh->mFaces = new aiFace[faces.size()];
  for (std::size_t f = 0; f < faces.size(); ++f) {
    mesh->mFaces[f].mNumIndices = static_cast<unsigned>(faces[f].size());
    mesh->mFaces[f].mIndices = copyOf(faces[f]);
  }
  mesh->mNumBones = static_cast<unsigned>(bones.size());
  if (!bones.empty()) mesh->mBones = new aiBone*[bones.size()];
  for (std::size_t b = 0; b < bones.size(); ++b) {
    auto* bone = mesh->mBones[b] = new aiBone();
    bone->mName = bones[b].name;
    bone->mOffsetMatrix = bones[b].offset;
    bone->mNumWeights = static_cast<unsigned>(bones[b].weights.size());
    bone->mWeights = new aiVertexWeight[bone->mNumWeights];
    for (unsigned w = 0; w < bone->mNumWeights; ++w)
      bone->mWeights[w] = aiVertexWeight(bones[b].weights[w].first, bones[b].weights[w].second);
  }
  return mesh;
}

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
  std::vector<std::vector<unsigned>> triangles;
  std::vector<Weight> weights;
};

aiMatrix4x4 worldOf(const aiNode* node) {
  aiMatrix4x4 m = node->mTransformation;
  for (const aiNode* p = node->mParent; p != nullptr; p = p->mParent) m = p->mTransformation * m;
  return m;
}

// Bones are bound in the bind pose of the scene: the offset maps mesh space (the mesh nodes sit at the
// identity) into the bone's space.
aiMesh* buildMesh(const MeshRecipe& recipe, const aiNode* root) {
  std::vector<BoneSpec> bones;
  for (const Weight& w : recipe.weights) {
    auto bone = std::find_if(bones.begin(), bones.end(), [&](const BoneSpec& b) { return b.name == w.bone; });
    if (bone == bones.end()) {
      const aiNode* node = root->FindNode(w.bone.c_str());
      if (node == nullptr) throw std::logic_error("bone without node: " + w.bone);
      bone = bones.insert(bones.end(), {w.bone, worldOf(node).Inverse(), {}});
    }
    bone->weights.emplace_back(w.vertex, w.weight);
  }
  std::vector<aiVector3D> normals = recipe.normals;
  for (aiVector3D& n : normals) n.NormalizeSafe();
  aiMesh* mesh = makeMesh(recipe.vertices, normals, recipe.triangles, bones).release();
  mesh->mName = recipe.name;
  mesh->mPrimitiveTypes = aiPrimitiveType_TRIANGLE;
  mesh->mMaterialIndex = 0;
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

// An axis-aligned box from lo to hi, all eight corners weighted 1 to `bone`, with outward corner normals
// and outward-wound faces. Corner c of the box is vertex first + c, with bit 0 of c choosing hi.x, bit 1
// hi.y and bit 2 hi.z.
void addBox(MeshRecipe& mesh, const aiVector3D& lo, const aiVector3D& hi, const std::string& bone) {
  const auto first = static_cast<unsigned>(mesh.vertices.size());
  const aiVector3D centre = (lo + hi) * 0.5f;
  for (unsigned c = 0; c < 8; ++c) {
    const aiVector3D corner((c & 1) ? hi.x : lo.x, (c & 2) ? hi.y : lo.y, (c & 4) ? hi.z : lo.z);
    mesh.vertices.push_back(corner);
    mesh.normals.push_back(corner - centre);
    mesh.weights.push_back({bone, first + c, 1.0f});
  }
  // Each face as its four corners counter-clockwise seen from outside.
  const unsigned quads[6][4] = {{0, 4, 6, 2}, {1, 3, 7, 5}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 2, 3, 1}, {4, 5, 7, 6}};
  for (const auto& q : quads) {
    mesh.triangles.push_back({first + q[0], first + q[1], first + q[2]});
    mesh.triangles.push_back({first + q[0], first + q[2], first + q[3]});
  }
}

// Vertex normals as the area-weighted mean of the adjacent triangles' normals.
void smoothNormals(MeshRecipe& mesh) {
  mesh.normals.assign(mesh.vertices.size(), aiVector3D());
  for (const auto& t : mesh.triangles) {
    const aiVector3D n = (mesh.vertices[t[1]] - mesh.vertices[t[0]]) ^ (mesh.vertices[t[2]] - mesh.vertices[t[0]]);
    for (unsigned v : t) mesh.normals[v] += n;
  }
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
  bar.triangles.insert(bar.triangles.end(), {{0, 2, 1}, {0, 3, 2}, {8, 9, 10}, {8, 10, 11}});
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
  bodyMesh.triangles.insert(bodyMesh.triangles.end(), {{0, 1, 2}, {0, 2, 3}});
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

std::unique_ptr<aiScene> makeHipsScene() {
  auto scene = newScene();
  aiNode* root = scene->mRootNode;
  aiNode* armature = addChild(root, "Armature", aiMatrix4x4());
  aiNode* hips = addChild(armature, "Hips", translation(0, 1.0f, 0));
  addChild(addChild(hips, "Spine", translation(0, 0.25f, 0)), "Head", translation(0, 0.25f, 0));
  addChild(addChild(hips, "LeftLeg", translation(0.125f, -0.125f, 0)), "LeftFoot", translation(0, -0.75f, 0));
  addChild(addChild(hips, "RightLeg", translation(-0.125f, -0.125f, 0)), "RightFoot", translation(0, -0.75f, 0));
  aiNode* skinNode = addChild(root, "skin", aiMatrix4x4());

  MeshRecipe skin{"skin", {}, {}, {}, {}};
  addBox(skin, {-0.25f, 0.875f, -0.125f}, {0.25f, 1.125f, 0.125f}, "Hips");
  addBox(skin, {-0.25f, 1.125f, -0.125f}, {0.25f, 1.5f, 0.125f}, "Spine");
  addBox(skin, {0.0625f, 0.125f, -0.0625f}, {0.1875f, 0.875f, 0.0625f}, "LeftLeg");
  addBox(skin, {-0.1875f, 0.125f, -0.0625f}, {-0.0625f, 0.875f, 0.0625f}, "RightLeg");
  attachMeshes(*scene, {{skin, skinNode}});
  return scene;
}

std::unique_ptr<aiScene> makeSubstringScene() {
  auto scene = newScene();
  aiNode* root = scene->mRootNode;
  aiNode* skinA = addChild(root, "skin_a", aiMatrix4x4());
  aiNode* skinB = addChild(root, "skin_b", aiMatrix4x4());
  aiNode* chest = addChild(addChild(addChild(root, "Root", aiMatrix4x4()), "Torso", translation(0, 1.0f, 0)), "Chest",
                           translation(0, 0.5f, 0));
  addChild(addChild(chest, "LeftArm", translation(0.25f, 0, 0)), "LeftHand", translation(0.5f, 0, 0));
  addChild(addChild(chest, "Arm", translation(-0.25f, 0, 0)), "Hand", translation(-0.5f, 0, 0));

  MeshRecipe a{"skin_a", {}, {}, {}, {}};
  addBox(a, {0, 0, 0}, {1, 1, 1}, "Arm");
  MeshRecipe b{"skin_b", {}, {}, {}, {}};
  addBox(b, {2, 0, 0}, {3, 1, 1}, "Root");
  attachMeshes(*scene, {{a, skinA}, {b, skinB}});
  return scene;
}

std::unique_ptr<aiScene> makeForkScene() {
  auto scene = newScene();
  aiNode* root = scene->mRootNode;
  aiNode* trunk = addChild(addChild(root, "Armature", aiMatrix4x4()), "trunk", translation(0, 1.0f, 0));
  const aiMatrix4x4 turn(aiMatrix3x3(0, 1, 0, 0, 0, 1, 1, 0, 0));
  aiMatrix4x4 stretch;
  aiMatrix4x4::Scaling(aiVector3D(1, 2, 2), stretch);
  addChild(addChild(trunk, "left", translation(0.5f, 0.5f, 0) * turn * stretch), "left_end", translation(0, 0, 1.0f));
  addChild(addChild(trunk, "right", translation(-0.5f, 0.5f, 0)), "right_end", translation(1.0f, 0, 0));
  aiNode* skinNode = addChild(root, "skin", aiMatrix4x4());

  MeshRecipe skin{"skin", {}, {}, {}, {}};
  addBox(skin, {-0.25f, 0.75f, -0.25f}, {0.25f, 1.25f, 0.25f}, "trunk");
  addBox(skin, {0.25f, 1.25f, -0.25f}, {0.75f, 2.5f, 0.25f}, "left");
  addBox(skin, {-0.5f, 1.25f, -0.25f}, {0.25f, 1.75f, 0.25f}, "right");
  attachMeshes(*scene, {{skin, skinNode}});
  return scene;
}

std::unique_ptr<aiScene> makeFishScene() {
  auto scene = newScene();
  aiNode* root = scene->mRootNode;
  aiNode* armature = addChild(root, "Armature", aiMatrix4x4());
  aiNode* body = addChild(armature, "body", translation(kFishBodyX, 0, 0));
  aiNode* tail = addChild(body, "tail", translation(kFishTailX - kFishBodyX, 0, 0));
  aiNode* caudal = addChild(tail, "caudal", translation(kFishCaudalX - kFishTailX, 0, 0));
  addChild(caudal, "caudal_end", translation(-0.25f - kFishCaudalX, 0, 0));
  aiNode* skinNode = addChild(root, "skin", aiMatrix4x4());
  aiNode* finNode = addChild(root, "fin", aiMatrix4x4());

  // Body: elliptic rings (half height b, half width b / 2) from the snout at x = 0.2 to a flat cap at
  // x = -0.17. The tail joint's weight blends in over 4 cm on either side of it, the caudal joint's over 2 cm.
  const std::vector<float> xs = {0.18f, 0.15f, 0.11f, 0.06f, 0.01f, -0.04f, -0.08f, -0.12f, -0.15f, -0.17f};
  const std::vector<float> bs = {0.022f, 0.04f, 0.052f, 0.057f, 0.052f, 0.04f, 0.028f, 0.018f, 0.012f, 0.01f};
  const unsigned K = 12;
  auto blend = [](float x, float joint, float half) { return std::clamp((joint + half - x) / (2 * half), 0.0f, 1.0f); };
  MeshRecipe skin{"skin", {}, {}, {}, {}};
  auto addVertex = [&](const aiVector3D& p) {
    const auto v = static_cast<unsigned>(skin.vertices.size());
    skin.vertices.push_back(p);
    const float toTail = blend(p.x, kFishTailX, 0.04f), toCaudal = blend(p.x, kFishCaudalX, 0.02f);
    const std::pair<const char*, float> weights[3] = {
        {"body", 1 - toTail}, {"tail", toTail * (1 - toCaudal)}, {"caudal", toCaudal}};
    for (const auto& [bone, w] : weights)
      if (w > 0) skin.weights.push_back({bone, v, w});
  };
  addVertex({0.2f, 0, 0});
  for (std::size_t r = 0; r < xs.size(); ++r)
    for (unsigned k = 0; k < K; ++k) {
      const double phi = 2 * M_PI * k / K;
      addVertex({xs[r], bs[r] * static_cast<float>(std::cos(phi)), 0.5f * bs[r] * static_cast<float>(std::sin(phi))});
    }
  addVertex({xs.back(), 0, 0});
  const auto ring = [K](std::size_t r, unsigned k) { return 1 + static_cast<unsigned>(r) * K + k % K; };
  const auto cap = static_cast<unsigned>(skin.vertices.size() - 1);
  for (unsigned k = 0; k < K; ++k) {
    skin.triangles.push_back({0, ring(0, k), ring(0, k + 1)});
    for (std::size_t r = 0; r + 1 < xs.size(); ++r) {
      skin.triangles.push_back({ring(r, k), ring(r + 1, k), ring(r + 1, k + 1)});
      skin.triangles.push_back({ring(r, k), ring(r + 1, k + 1), ring(r, k + 1)});
    }
    skin.triangles.push_back({cap, ring(xs.size() - 1, k + 1), ring(xs.size() - 1, k)});
  }
  smoothNormals(skin);

  // Caudal fin: a forked plate 6 mm thick in the x-y plane, flat-shaded (each face has its own vertices).
  const aiVector3D outline[5] = {
      {-0.16f, 0.012f, 0}, {-0.25f, 0.06f, 0}, {-0.22f, 0, 0}, {-0.25f, -0.06f, 0}, {-0.16f, -0.012f, 0}};
  const aiVector3D half(0, 0, 0.003f);
  MeshRecipe fin{"fin", {}, {}, {}, {}};
  auto addFace = [&fin](const std::vector<aiVector3D>& corners, const std::vector<std::vector<unsigned>>& tris) {
    const auto first = static_cast<unsigned>(fin.vertices.size());
    const auto& t = tris[0];
    const aiVector3D n = (corners[t[1]] - corners[t[0]]) ^ (corners[t[2]] - corners[t[0]]);
    for (const aiVector3D& c : corners) {
      fin.weights.push_back({"caudal", static_cast<unsigned>(fin.vertices.size()), 1.0f});
      fin.vertices.push_back(c);
      fin.normals.push_back(n);
    }
    for (const auto& t : tris) fin.triangles.push_back({first + t[0], first + t[1], first + t[2]});
  };
  // The outline runs counter-clockwise seen from +z; the fan from the notch (corner 2) covers it.
  const std::vector<std::vector<unsigned>> fan = {{2, 3, 4}, {2, 4, 0}, {2, 0, 1}};
  std::vector<aiVector3D> top, bottom;
  for (const aiVector3D& c : outline) top.push_back(c + half), bottom.push_back(c - half);
  addFace(top, fan);
  addFace(bottom, {{2, 4, 3}, {2, 0, 4}, {2, 1, 0}});
  for (int c = 0; c < 5; ++c) {
    const aiVector3D &p = outline[c], &q = outline[(c + 1) % 5];
    addFace({p + half, p - half, q - half, q + half}, {{0, 1, 2}, {0, 2, 3}});
  }
  attachMeshes(*scene, {{skin, skinNode}, {fin, finNode}});
  return scene;
}

void writeFbx(const aiScene& scene, const std::string& path) {
  Assimp::Exporter exporter;
  if (exporter.Export(&scene, "fbxa", path) != AI_SUCCESS)
    throw std::runtime_error("cannot write '" + path + "': " + exporter.GetErrorString());
}

}  // namespace testmodels
