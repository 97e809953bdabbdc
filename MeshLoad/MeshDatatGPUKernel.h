// Linear blend skinning on the device (updateVerticesPosKernel), one thread per vertex. Arrays as in
// device_MeshData. A vertex with bone_affected[i] = 0 follows node_transform; any other vertex the
// weighted sum of the bone transforms (top three rows), accumulated in bone order.
#pragma once

// Launches with 512 threads per block and nV / 512 + 1 blocks, then checks the launch and its completion.
void launchUpdateVerticesPos(const double* node_transform, const double* bone_transforms, const int* bone_affected,
                             const double* bone_weights_arr, const double* init_positions, double* curr_positions,
                             const double* init_normals, double* curr_normals, int nV, int nB);
