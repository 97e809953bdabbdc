// The project's own small skinned models, built as Assimp scenes and written as ASCII FBX.
//
// "bar": a box from x = 0 to 2 skinned to two bones, bone0 at the origin and bone1 at x = 1 below it.
// Its three rings of vertices (x = 0, 1, 2) have the weights bone0 1 / both 0.5 / bone1 1.
//
// "creature": a body tube along x with a branched skeleton, body -> spine1 -> spine2, body -> tail1 ->
// tail2, body -> fin_L, body -> fin_R; meshes "body_mesh" (skinned, weights with two and three bones,
// one unnormalised 0.2/0.6 pair, a tail tip vertex without weight), "fin_L" and "fin_R" (one bone each;
// fin_R carries no normals) and "eye" (no bones, on a rotated and translated node).
#pragma once

#include <assimp/scene.h>

#include <memory>
#include <string>

namespace testmodels {

// Appends a new node with the given local transform to parent's children; the scene owns it.
aiNode* addChild(aiNode* parent, const std::string& name, const aiMatrix4x4& local);

std::unique_ptr<aiScene> makeBarScene();
std::unique_ptr<aiScene> makeCreatureScene();

// Writes the scene with Assimp's ASCII FBX writer; throws std::runtime_error on failure.
void writeFbx(const aiScene& scene, const std::string& path);

}  // namespace testmodels
