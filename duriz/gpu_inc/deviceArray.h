// Whole-vector device copies for host records kept in std::vector: one checked allocation and copy per
// array, and a checked release that leaves the pointer null.
#pragma once

#include <vector>

#include "cudaCheck.h"

// Allocates device memory for host's bytes and copies them; U may differ from T when the host element is
// an Eigen type laid out as the device's plain doubles. A device without room throws OutOfMemory and leaves
// device null.
template <class T, class U>
void allocAndCopy(T*& device, const std::vector<U>& host) {
  const std::size_t bytes = host.size() * sizeof(U);
  device = nullptr;
  checkCudaAllocation(cudaMalloc(reinterpret_cast<void**>(&device), bytes));
  checkCudaErrors(cudaMemcpy(device, host.data(), bytes, cudaMemcpyHostToDevice));
}

// Frees device and nulls it; nothing when it is null.
template <class T>
void freeDevice(T*& device) {
  if (device == nullptr) return;
  checkCudaErrors(cudaFree(device));
  device = nullptr;
}
