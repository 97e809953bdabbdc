// Base of every object with device data: the CUDA device that holds it. Operations that touch device
// memory make that device current first.
#pragma once

class GpuCopyable {
 public:
  int gpuId = 0;
};

// Throws std::invalid_argument unless `gpuId` names a device of this machine, so that a script's bad id
// is refused up front rather than ending the process at the first checked device call. `who` opens the
// message.
void requireGpuDevice(int gpuId, const char* who);
