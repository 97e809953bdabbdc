// The device record of one skinned mesh: device arrays only, null until allocated. Raw double pointers,
// not Eigen types, so that device code built by nvcc needs no Eigen: entry k of a Vector3d array is
// doubles [3k, 3k + 3), entry k of an Isometry3d array doubles [16k, 16k + 16), its 4 x 4 matrix stored
// bit for bit in column-major order including the bottom row (the translation is doubles 12 to 14).
#pragma once

#include "MeshFace.h"

struct device_MeshData {
  int* nodeIdx = nullptr;              // 1 (allocated, never written)
  double* node_transform = nullptr;    // 1 Isometry3d
  double* init_positions = nullptr;    // nV Vector3d
  double* curr_positions = nullptr;    // nV Vector3d
  double* init_normals = nullptr;      // nV Vector3d
  double* curr_normals = nullptr;      // nV Vector3d
  int* bone_nodeIdx = nullptr;         // nB
  double* bone_offset = nullptr;       // nB Isometry3d
  double* bone_transforms = nullptr;   // nB Isometry3d
  int* bone_affected = nullptr;        // nV
  double* bone_weights_arr = nullptr;  // nV x nB, row per vertex
  MeshFace* faces = nullptr;           // nF
};
