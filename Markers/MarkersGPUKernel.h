// The marker kernels, one thread per marker, launched in blocks of 512 threads. Vector arrays hold 3
// doubles per vector. With n = 0 nothing is launched. On return the kernel has finished; a failed launch
// ends the process through the CUDA check.
#pragma once

struct mlFlow;

// pos[i] := meshPositions[vId[i]] and normal[i] := meshNormals[vId[i]]; a marker with a negative vertex
// index (bound to no vertex) keeps its position and normal.
void launchCopyMarkersPosNormal(const int* vId, double* pos, double* normal, const double* meshPositions,
                                const double* meshNormals, int n);

// Trilinear interpolation of the device lattice's ux, uy, uz and rou at each marker position, in single
// precision, into velocity (widened to double) and pressure. The cell of a marker at distance d from the
// lattice origin is floor(d / dx), at most n - 2, so a marker between the last node and the upper face
// extrapolates from the last cell. A marker outside the box [origin, origin + extent], or any marker of
// a lattice with fewer than two nodes on some axis, keeps its velocity and pressure.
void launchGetMarkersProperties(const mlFlow* flow, const double* pos, double* velocity, float* pressure, int n);
