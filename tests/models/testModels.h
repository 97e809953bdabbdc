// The project's own small skinned models, built as Assimp scenes and written as ASCII FBX.
//
// "bar": a box from x = 0 to 2 skinned to two bones, bone0 at the origin and bone1 at x = 1 below it.
// Its three rings of vertices (x = 0, 1, 2) have the weights bone0 1 / both 0.5 / bone1 1.
//
// "creature": a body tube along x with a branched skeleton, body -> spine1 -> spine2, body -> tail1 ->
// tail2, body -> fin_L, body -> fin_R; meshes "body_mesh" (skinned, weights with two and three bones,
// one unnormalised 0.2/0.6 pair, a tail tip vertex without weight), "fin_L" and "fin_R" (one bone each;
// fin_R carries no normals) and "eye" (no bones, on a rotated and translated node).
//
// "hips": a biped armature (Hips, Spine, Head, legs and feet) below "Armature"; one mesh "skin" of four
// boxes, each weighted to one of the bones Hips, Spine, LeftLeg, RightLeg.
//
// "substring": mesh "skin_a" is weighted to the bone Arm, a substring of LeftArm; mesh "skin_b" to the bone
// Root, a substring of the imported root's name "RootNode".
//
// "fork": Armature -> trunk at y = 1, whose exactly two children are left at (0.5, 0.5, 0), turned so that
// its x, y and z axes lie along z, x and y and scaled by 2 along its y and z, and right at (-0.5, 0.5, 0).
// Their end nodes are 1 along left's z (left_end) and right's x (right_end). Mesh "skin": a box on each of
// trunk, left and right.
//
// "fish": a 0.45 m fish along x, snout at +x, back at +y. Armature -> body -> tail -> caudal ->
// caudal_end at the x below. Mesh "skin" (122 vertices, closed) is skinned to body, tail and caudal,
// blending across the tail joint over 4 cm either side; mesh "fin" (closed, forked caudal fin plate
// from x = -0.16 to -0.25) to caudal alone.
#pragma once

#include <assimp/scene.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace testmodels {

inline aiMatrix4x4 translation(float x, float y, float z) {
  aiMatrix4x4 m;
  return aiMatrix4x4::Translation(aiVector3D(x, y, z), m);
}

template <class T>
T* copyOf(const std::vector<T>& v) {
  return v.empty() ? nullptr : std::copy(v.begin(), v.end(), new T[v.size()]) - v.size();
}

struct BoneSpec {
  std::string name;
  aiMatrix4x4 offset;
  std::vector<std::pair<unsigned, float>> weights;
};

// A mesh named "m" with the given vertices, normals (none when empty), faces and bones.
std::unique_ptr<aiMesh> makeMesh(const std::vector<aiVector3D>& vertices, const std::vector<aiVector3D>& normals,
                                 const std::vector<std::vector<unsigned>>& faces,
                                 const std::vector<BoneSpec>& bones = {});

// Appends a new node with the given local transform to parent's children; the scene owns it.
aiNode* addChild(aiNode* parent, const std::string& name, const aiMatrix4x4& local);

std::unique_ptr<aiScene> makeBarScene();
std::unique_ptr<aiScene> makeCreatureScene();
std::unique_ptr<aiScene> makeHipsScene();
std::unique_ptr<aiScene> makeSubstringScene();
std::unique_ptr<aiScene> makeForkScene();
std::unique_ptr<aiScene> makeFishScene();

// World x of the fish's joints (metres); caudal_end is at x = -0.25.
constexpr float kFishBodyX = 0.12f;
constexpr float kFishTailX = -0.04f;
constexpr float kFishCaudalX = -0.16f;

// Writes the scene with Assimp's ASCII FBX writer; throws std::runtime_error on failure.
void writeFbx(const aiScene& scene, const std::string& path);

}  // namespace testmodels
