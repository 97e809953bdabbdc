#include "Markers.h"

#include <stdexcept>
#include <string>

#include "duriz/gpu_inc/cudaCheck.h"

static_assert(sizeof(Eigen::Vector3d) == 3 * sizeof(double), "device arrays hold Vector3d as 3 doubles");

Markers::Markers(int gpuId) { this->gpuId = gpuId; }

Markers::~Markers() { releaseDevice(); }

void Markers::allocAndUpload() {
  releaseDevice();
  cudaSetDevice(gpuId);
  checkCudaErrors(cudaMalloc((void**)&data_gpu.vId, sizeof(int) * data_cpu.vId.size()));
  checkCudaErrors(
      cudaMemcpy(data_gpu.vId, data_cpu.vId.data(), sizeof(int) * data_cpu.vId.size(), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMalloc((void**)&data_gpu.pos, sizeof(Eigen::Vector3d) * data_cpu.pos.size()));
  checkCudaErrors(cudaMemcpy(data_gpu.pos, data_cpu.pos.data(), sizeof(Eigen::Vector3d) * data_cpu.pos.size(),
                             cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMalloc((void**)&data_gpu.normal, sizeof(Eigen::Vector3d) * data_cpu.normal.size()));
  checkCudaErrors(cudaMemcpy(data_gpu.normal, data_cpu.normal.data(), sizeof(Eigen::Vector3d) * data_cpu.normal.size(),
                             cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMalloc((void**)&data_gpu.pressure, sizeof(float) * data_cpu.pressure.size()));
  checkCudaErrors(cudaMemcpy(data_gpu.pressure, data_cpu.pressure.data(), sizeof(float) * data_cpu.pressure.size(),
                             cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMalloc((void**)&data_gpu.velocity, sizeof(Eigen::Vector3d) * data_cpu.velocity.size()));
  checkCudaErrors(cudaMemcpy(data_gpu.velocity, data_cpu.velocity.data(),
                             sizeof(Eigen::Vector3d) * data_cpu.velocity.size(), cudaMemcpyHostToDevice));
  allocatedCount_ = data_cpu.vId.size();
}

void Markers::upload() {
  requireAllocated("upload");
  cudaSetDevice(gpuId);
  checkCudaErrors(
      cudaMemcpy(data_gpu.vId, data_cpu.vId.data(), sizeof(int) * data_cpu.vId.size(), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(data_gpu.pos, data_cpu.pos.data(), sizeof(Eigen::Vector3d) * data_cpu.pos.size(),
                             cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(data_gpu.normal, data_cpu.normal.data(), sizeof(Eigen::Vector3d) * data_cpu.normal.size(),
                             cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(data_gpu.velocity, data_cpu.velocity.data(),
                             sizeof(Eigen::Vector3d) * data_cpu.velocity.size(), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(data_gpu.pressure, data_cpu.pressure.data(), sizeof(float) * data_cpu.pressure.size(),
                             cudaMemcpyHostToDevice));
  dirty_cpu = false;
}

void Markers::download() {
  requireAllocated("download");
  cudaSetDevice(gpuId);
  checkCudaErrors(cudaMemcpy(data_cpu.pos.data(), data_gpu.pos, sizeof(Eigen::Vector3d) * data_cpu.pos.size(),
                             cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(data_cpu.velocity.data(), data_gpu.velocity,
                             sizeof(Eigen::Vector3d) * data_cpu.velocity.size(), cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(data_cpu.normal.data(), data_gpu.normal, sizeof(Eigen::Vector3d) * data_cpu.normal.size(),
                             cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(data_cpu.pressure.data(), data_gpu.pressure, sizeof(float) * data_cpu.pressure.size(),
                             cudaMemcpyDeviceToHost));
  dirty_gpu = false;
}

void Markers::freeGpu() {
  releaseDevice();
  dirty_cpu = false;
  dirty_gpu = false;
}

void Markers::releaseDevice() {
  cudaSetDevice(gpuId);
  checkCudaErrors(cudaFree(data_gpu.vId));
  checkCudaErrors(cudaFree(data_gpu.pos));
  checkCudaErrors(cudaFree(data_gpu.normal));
  checkCudaErrors(cudaFree(data_gpu.pressure));
  checkCudaErrors(cudaFree(data_gpu.velocity));
  data_gpu = Markers_GPU{};
  allocatedCount_ = 0;
}

// Copying a different number of markers would run past the device arrays or the host vectors.
void Markers::requireAllocated(const char* operation) const {
  if (data_cpu.vId.size() != allocatedCount_)
    throw std::logic_error(std::string("Markers::") + operation + ": " + std::to_string(data_cpu.vId.size()) +
                           " markers on the host but " + std::to_string(allocatedCount_) +
                           " on the device; call allocAndUpload after adding markers");
}

void Markers::addMarker(int meshIdx, int vId, const Eigen::Vector3d& pos, const Eigen::Vector3d& normal) {
  data_cpu.meshIdx.push_back(meshIdx);
  data_cpu.vId.push_back(vId);
  data_cpu.pos.push_back(pos);
  data_cpu.normal.push_back(normal);
  data_cpu.velocity.push_back(Eigen::Vector3d::Zero());
  data_cpu.pressure.push_back(1.0f);
}
