// ASCII legacy VTK of one skinned mesh as it stands on the host: POLYDATA with the current vertex
// positions, the triangles, the current normals and the texture coordinates, values in fixed notation
// with 4 decimals.
#pragma once

#include <string>

class CompleteFileSet;
struct host_MeshData;

// Adds the file to `files`, to land with the set's other files. Returns false when it cannot be written
// (files.failure() says why). Throws std::invalid_argument for a value that no float holds (not finite,
// or beyond the largest float), as the file declares float.
bool writeBodyVTK(const host_MeshData& mesh, const std::string& path, CompleteFileSet& files);
// The file alone. Throws std::invalid_argument for a value that no float holds (nothing is written) and
// std::runtime_error naming the path and the reason when the file cannot be written; no partial file is left.
void writeBodyVTK(const host_MeshData& mesh, const std::string& path);
