// The device record of one skinned mesh: device arrays only, null until allocated. Eigen values are
// stored bit for bit, so kernels read plain doubles: a Vector3d is 3 doubles, an Isometry3d 16 doubles
// in column-major order including the bottom row.
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
