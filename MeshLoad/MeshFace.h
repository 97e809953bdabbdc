// One triangle of a skinned mesh. Host and device use the same record: the device array is a byte copy
// of the host array.
#pragma once

#include <cstdint>

struct MeshFace {
  std::int32_t linkIdx;  // link of the articulated body the face belongs to; 0 after loading
  std::int32_t vert0, vert1, vert2;
  double area;  // in the bind pose, model units divided by the model's scale
};
