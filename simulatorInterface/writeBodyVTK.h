// ASCII legacy VTK of one skinned mesh as it stands on the host: POLYDATA with the current vertex
// positions, the triangles, the current normals and the texture coordinates, values in fixed notation
// with 4 decimals.
#pragma once

#include <string>

struct host_MeshData;

// Throws std::invalid_argument for a value that is not finite (nothing is written) and std::runtime_error
// naming the path when the file cannot be written; no partial file is left.
void writeBodyVTK(const host_MeshData& mesh, const std::string& path);
