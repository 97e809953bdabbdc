// Base of every object with device data: the CUDA device that holds it. Operations that touch device
// memory make that device current first.
#pragma once

class GpuCopyable {
 public:
  int gpuId = 0;
};
