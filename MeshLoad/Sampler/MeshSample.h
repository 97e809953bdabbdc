// Per-point records of the surface sampler. Plain data: the device arrays are byte copies of the host
// arrays, and device code reads them without Eigen.
#pragma once

// Where a Lagrangian point sits on the skinned surface.
struct MeshSample {
  int meshIdx;     // mesh of the SkeletalMesh
  int linkIdx;     // link of its face at sampling time
  int faceIdx;     // face of that mesh
  double bary[3];  // weights of the face's vert0, vert1, vert2; they sum to 1
};

// The wrench of one point's force on its link, in the link's body coordinates: torque about the link
// origin (values 0 .. 2), then force (values 3 .. 5).
struct SampleWrench {
  double values[6];
};
