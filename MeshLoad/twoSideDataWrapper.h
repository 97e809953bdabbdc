// A host record and its device twin. Host-dirty: the host copy is newer (an upload before GPU work
// clears it); device-dirty: the device copy is newer (a download clears it).
#pragma once

#include "GpuCopyable.h"

template <class Host, class Device>
class twoSideDataWrapper : public GpuCopyable {
 public:
  // Allocates every device array at the host sizes and copies the host data.
  virtual void allocAndUpload() = 0;
  // Copies the host data that change at run time to the device; clears dirty_cpu.
  virtual void upload() = 0;
  // Copies the device results to the host; clears dirty_gpu.
  virtual void download() = 0;
  // Frees every device array; clears both flags.
  virtual void freeGpu() = 0;

  Host data_cpu;
  Device data_gpu;
  bool dirty_cpu = false;
  bool dirty_gpu = false;

 protected:
  // Not virtual: instances are made with std::make_shared of the concrete class and die as that class.
  ~twoSideDataWrapper() = default;
};
