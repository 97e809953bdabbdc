// Moves the Lagrangian points of one mesh with its skinned surface on the device
// (updateSamplesPosNormalKernel), one thread per sample; samples of other meshes return at once.
// Positions and normals are the mesh's device arrays (three doubles per vertex, device_MeshData).
#pragma once

#include "MeshLoad/MeshFace.h"
#include "MeshSample.h"

// Each point of mesh meshIdx goes to the barycentric blend of its face's positions, its normal to the
// same blend of the vertex normals scaled to unit length (a zero blend stays zero). Launches with 512
// threads per block and n / 512 + 1 blocks, then checks the launch and its completion.
void launchUpdateSamplesPosNormal(int meshIdx, const MeshFace* faces, const MeshSample* samples,
                                  const double* positions, const double* normals, float* coordx, float* coordy,
                                  float* coordz, float* normalx, float* normaly, float* normalz, int n);
