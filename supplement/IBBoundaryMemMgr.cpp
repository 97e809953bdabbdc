#include "IBBoundaryMemMgr.h"

#include <stdexcept>
#include <string>

#include "duriz/gpu_inc/cudaCheck.h"

IBBoundaryMemMgr::IBBoundaryMemMgr(int id) : gpuId(id) {}

IBBoundaryMemMgr::~IBBoundaryMemMgr() { freeGpu(); }

void IBBoundaryMemMgr::requireAttached(const char* operation) const {
  if (mllaboundary == nullptr) throw std::logic_error(std::string(operation) + ": no point set attached");
  if (mllaboundary->count < 0)
    throw std::invalid_argument(std::string(operation) + ": negative point count " +
                                std::to_string(mllaboundary->count));
}

void IBBoundaryMemMgr::requireAllocated(const char* operation) const {
  requireAttached(operation);
  if (mllaboundary_gpu == nullptr)
    throw std::logic_error(std::string(operation) + ": the point set's device memory is not allocated");
  // Copying a record of another size would run past the device arrays or the host arrays.
  if (mllaboundary->count != allocatedCount_)
    throw std::logic_error(std::string(operation) + ": the point set has " + std::to_string(mllaboundary->count) +
                           " points but the device arrays hold " + std::to_string(allocatedCount_) + "; alloc again");
}

void IBBoundaryMemMgr::attach(mlLagrangeBoundary* boundary) {
  const std::int32_t count = boundary == nullptr ? 0 : boundary->count;
  if (count < 0) throw std::invalid_argument("IBBoundaryMemMgr::attach: negative point count " + std::to_string(count));
  mllaboundary = boundary;
  history.resize(static_cast<std::size_t>(count));
}

void IBBoundaryMemMgr::alloc() {
  requireAttached("IBBoundaryMemMgr::alloc");
  cudaSetDevice(gpuId);
  mllagbndHost.reset(new mlLagrangeBoundary());
  if (mllaboundary_gpu != nullptr) freeGpu();

  const std::size_t count = static_cast<std::size_t>(mllaboundary->count);
  // A device without room for the whole point set keeps none of it.
  try {
    checkCudaAllocation(cudaMalloc((void**)&mllaboundary_gpu, sizeof(mlLagrangeBoundary)));
    checkCudaAllocation(cudaMalloc((void**)&ux_dev, count * sizeof(float)));
    checkCudaAllocation(cudaMalloc((void**)&uy_dev, count * sizeof(float)));
    checkCudaAllocation(cudaMalloc((void**)&uz_dev, count * sizeof(float)));
    checkCudaAllocation(cudaMalloc((void**)&coordx_dev, count * sizeof(float)));
    checkCudaAllocation(cudaMalloc((void**)&coordy_dev, count * sizeof(float)));
    checkCudaAllocation(cudaMalloc((void**)&coordz_dev, count * sizeof(float)));
    checkCudaAllocation(cudaMalloc((void**)&normalx_dev, count * sizeof(float)));
    checkCudaAllocation(cudaMalloc((void**)&normaly_dev, count * sizeof(float)));
    checkCudaAllocation(cudaMalloc((void**)&normalz_dev, count * sizeof(float)));
    checkCudaAllocation(cudaMalloc((void**)&coordInitx_dev, count * sizeof(float)));
    checkCudaAllocation(cudaMalloc((void**)&coordInity_dev, count * sizeof(float)));
    checkCudaAllocation(cudaMalloc((void**)&coordInitz_dev, count * sizeof(float)));
    checkCudaAllocation(cudaMalloc((void**)&forcex_dev, count * sizeof(double)));
    checkCudaAllocation(cudaMalloc((void**)&forcey_dev, count * sizeof(double)));
    checkCudaAllocation(cudaMalloc((void**)&forcez_dev, count * sizeof(double)));
    checkCudaAllocation(cudaMalloc((void**)&den_dev, count * sizeof(mlDensity<float>)));
  } catch (...) {
    freeGpu();
    throw;
  }
  allocatedCount_ = mllaboundary->count;
}

void IBBoundaryMemMgr::upload() {
  requireAllocated("IBBoundaryMemMgr::upload");
  cudaSetDevice(gpuId);
  mlLagrangeBoundary* host = mllaboundary;
  mlLagrangeBoundary* dev = mllaboundary_gpu;
  const std::size_t count = static_cast<std::size_t>(host->count);

  checkCudaErrors(cudaMemcpy(ux_dev, host->ux, count * sizeof(float), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(uy_dev, host->uy, count * sizeof(float), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(uz_dev, host->uz, count * sizeof(float), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(coordx_dev, host->coordx, count * sizeof(float), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(coordy_dev, host->coordy, count * sizeof(float), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(coordz_dev, host->coordz, count * sizeof(float), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(normalx_dev, host->normalx, count * sizeof(float), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(normaly_dev, host->normaly, count * sizeof(float), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(normalz_dev, host->normalz, count * sizeof(float), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(coordInitx_dev, host->coordInitx, count * sizeof(float), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(coordInity_dev, host->coordInity, count * sizeof(float), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(coordInitz_dev, host->coordInitz, count * sizeof(float), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(forcex_dev, host->forcex, count * sizeof(double), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(forcey_dev, host->forcey, count * sizeof(double), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(forcez_dev, host->forcez, count * sizeof(double), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(den_dev, host->rou, count * sizeof(mlDensity<float>), cudaMemcpyHostToDevice));

  // The scalars (count, area) reach the device only with this whole-record copy.
  checkCudaErrors(cudaMemcpy(dev, host, sizeof(mlLagrangeBoundary), cudaMemcpyHostToDevice));

  checkCudaErrors(cudaMemcpy(&(dev->ux), &ux_dev, sizeof(ux_dev), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(dev->uy), &uy_dev, sizeof(uy_dev), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(dev->uz), &uz_dev, sizeof(uz_dev), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(dev->coordx), &coordx_dev, sizeof(coordx_dev), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(dev->coordy), &coordy_dev, sizeof(coordy_dev), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(dev->coordz), &coordz_dev, sizeof(coordz_dev), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(dev->normalx), &normalx_dev, sizeof(normalx_dev), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(dev->normaly), &normaly_dev, sizeof(normaly_dev), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(dev->normalz), &normalz_dev, sizeof(normalz_dev), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(dev->coordInitx), &coordInitx_dev, sizeof(coordInitx_dev), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(dev->coordInity), &coordInity_dev, sizeof(coordInity_dev), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(dev->coordInitz), &coordInitz_dev, sizeof(coordInitz_dev), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(dev->forcex), &forcex_dev, sizeof(forcex_dev), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(dev->forcey), &forcey_dev, sizeof(forcey_dev), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(dev->forcez), &forcez_dev, sizeof(forcez_dev), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(dev->rou), &den_dev, sizeof(den_dev), cudaMemcpyHostToDevice));
}

void IBBoundaryMemMgr::download() {
  requireAllocated("IBBoundaryMemMgr::download");
  cudaSetDevice(gpuId);
  mlLagrangeBoundary* host = mllaboundary;
  const std::size_t count = static_cast<std::size_t>(host->count);

  checkCudaErrors(cudaMemcpy(mllagbndHost.get(), mllaboundary_gpu, sizeof(mlLagrangeBoundary), cudaMemcpyDeviceToHost));

  checkCudaErrors(cudaMemcpy(host->ux, ux_dev, count * sizeof(float), cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(host->uy, uy_dev, count * sizeof(float), cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(host->uz, uz_dev, count * sizeof(float), cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(host->coordx, coordx_dev, count * sizeof(float), cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(host->coordy, coordy_dev, count * sizeof(float), cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(host->coordz, coordz_dev, count * sizeof(float), cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(host->normalx, normalx_dev, count * sizeof(float), cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(host->normaly, normaly_dev, count * sizeof(float), cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(host->normalz, normalz_dev, count * sizeof(float), cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(host->forcex, forcex_dev, count * sizeof(double), cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(host->forcey, forcey_dev, count * sizeof(double), cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(host->forcez, forcez_dev, count * sizeof(double), cudaMemcpyDeviceToHost));
}

void IBBoundaryMemMgr::freeGpu() {
  cudaSetDevice(gpuId);
  if (mllaboundary_gpu == nullptr) return;
  checkCudaErrors(cudaFree(mllaboundary_gpu));
  checkCudaErrors(cudaFree(ux_dev));
  checkCudaErrors(cudaFree(uy_dev));
  checkCudaErrors(cudaFree(uz_dev));
  checkCudaErrors(cudaFree(coordx_dev));
  checkCudaErrors(cudaFree(coordy_dev));
  checkCudaErrors(cudaFree(coordz_dev));
  checkCudaErrors(cudaFree(normalx_dev));
  checkCudaErrors(cudaFree(normaly_dev));
  checkCudaErrors(cudaFree(normalz_dev));
  checkCudaErrors(cudaFree(coordInitx_dev));
  checkCudaErrors(cudaFree(coordInity_dev));
  checkCudaErrors(cudaFree(coordInitz_dev));
  checkCudaErrors(cudaFree(forcex_dev));
  checkCudaErrors(cudaFree(forcey_dev));
  checkCudaErrors(cudaFree(forcez_dev));
  checkCudaErrors(cudaFree(den_dev));
  mllaboundary_gpu = nullptr;
  ux_dev = uy_dev = uz_dev = nullptr;
  coordx_dev = coordy_dev = coordz_dev = nullptr;
  normalx_dev = normaly_dev = normalz_dev = nullptr;
  coordInitx_dev = coordInity_dev = coordInitz_dev = nullptr;
  forcex_dev = forcey_dev = forcez_dev = nullptr;
  den_dev = nullptr;
  allocatedCount_ = 0;
}

void IBBoundaryMemMgr::setUnitParams(float n, float l0, float up, float uk) {
  N = n;
  l0p = l0;
  u0p = up;
  u0k = uk;
  upload();
}
