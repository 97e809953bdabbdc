#include "IBSamplerMesh.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "IBSamplerMeshGpuKernel.h"
#include "MeshLoad/SkeletalMesh.h"
#include "duriz/gpu_inc/deviceArray.h"
#include "duriz/mlsolver/availableMemory.h"
#include "weightedSampleElimination.h"

namespace {

constexpr double kTwoSqrt3 = 3.4641016151377544;

// A mesh whose area is zero, or no number (a vertex that is not finite), takes no points and no share of
// the surface.
bool hasArea(const std::shared_ptr<MeshData>& mesh) {
  return mesh->data_cpu.area > 0 && std::isfinite(mesh->data_cpu.area);
}

// Points per mesh: each mesh takes the points up to its running share of the area, so that the shares
// add up to the count asked for (rounding each share down on its own loses up to a point per mesh).
std::vector<int> pointsPerMesh(const std::vector<std::shared_ptr<MeshData>>& meshes, int sampleNum) {
  double total = 0;
  for (const auto& mesh : meshes)
    if (hasArea(mesh)) total += mesh->data_cpu.area;
  std::vector<int> points(meshes.size(), 0);
  double running = 0;
  int before = 0;
  for (std::size_t m = 0; m < meshes.size(); ++m) {
    if (!hasArea(meshes[m])) continue;
    running += meshes[m]->data_cpu.area;  // the same sums as the total: the last mesh ends at the count
    const int upTo = static_cast<int>(sampleNum * (running / total));
    points[m] = upTo - before;
    before = upTo;
  }
  return points;
}

// Candidates per face: the face's share of ten per point, rounded down. When that leaves fewer
// candidates than points (many faces too small for a candidate), each face passes the part it rounds
// off on to the next, which loses less than one candidate over the mesh.
std::vector<int> candidatesPerFace(const host_MeshData& mesh, int points) {
  std::vector<int> count(mesh.faces.size());
  std::int64_t total = 0;
  for (std::size_t f = 0; f < count.size(); ++f) {
    count[f] = static_cast<int>(mesh.faces[f].area / mesh.area * points * 10.0);
    total += count[f];
  }
  if (total >= points) return count;
  double carried = 0;
  for (std::size_t f = 0; f < count.size(); ++f) {
    const double exact = carried + mesh.faces[f].area / mesh.area * points * 10.0;
    count[f] = static_cast<int>(exact);
    carried = exact - count[f];
  }
  return count;
}

// A candidate as drawn: its face and the two draws (rand() % 100) its weights come from.
struct Draw {
  int face;
  std::uint8_t u, v;
};

// The weights of vert0, vert1 and vert2 for a draw: u and v in steps of 1/101, folded back into the
// triangle when they add up to more than 1.
std::array<double, 3> weightsOf(int drawU, int drawV) {
  double u = drawU / 101.0;
  double v = drawV / 101.0;
  if (u + v > 1) {
    u = 1 - u;
    v = 1 - v;
  }
  return {1 - u - v, u, v};
}

// What sampling holds at most at once: per candidate of the largest mesh, its position and draw, and the
// elimination's tree node, index, heap entry, heap position and neighbour list (at most 64 neighbours
// each); per point, its records, the point set and their device copies.
constexpr double kBytesPerCandidate = 24 + 8 + 32 + 4 + 16 + 4 + 4 + 64 * 4;
constexpr double kBytesPerPoint = 400;

void requireSamplingMemory(int sampleNum, std::int64_t candidates) {
  const double need = candidates * kBytesPerCandidate + sampleNum * kBytesPerPoint;
  requireMemory("IBSamplerMesh::sample: " + std::to_string(sampleNum) + " points (" + std::to_string(candidates) +
                    " candidates on the largest mesh)",
                static_cast<std::uint64_t>(need), hostMemoryAvailable());
}

}  // namespace

IBSamplerMesh::IBSamplerMesh(SkeletalMesh* mesh, int id) : skeletalMesh(mesh), memMgr(id) { gpuId = id; }

IBSamplerMesh::~IBSamplerMesh() { freeGpu(); }

void IBSamplerMesh::sample(int sampleNum) {
  if (sampleNum < 0 || sampleNum > kMaxSampleNum)
    throw std::invalid_argument("IBSamplerMesh::sample: sampleNum " + std::to_string(sampleNum) + " outside [0, " +
                                std::to_string(kMaxSampleNum) + "]");
  if (skeletalMesh == nullptr) return;
  const auto& meshes = skeletalMesh->meshes;
  // Points and candidates of every mesh first, so that the candidates take their room once and a count
  // the machine cannot hold leaves the points as they were.
  const std::vector<int> points = pointsPerMesh(meshes, sampleNum);
  std::vector<std::vector<int>> perFace(meshes.size());
  std::vector<std::int64_t> candidateCount(meshes.size(), 0);
  std::int64_t largest = 0;
  for (std::size_t m = 0; m < meshes.size(); ++m) {
    if (points[m] == 0) continue;
    perFace[m] = candidatesPerFace(meshes[m]->data_cpu, points[m]);
    for (int k : perFace[m]) candidateCount[m] += k;
    largest = std::max(largest, candidateCount[m]);
  }
  requireSamplingMemory(sampleNum, largest);

  float A = 0;
  for (const auto& mesh : meshes)
    if (hasArea(mesh)) A += static_cast<float>(mesh->data_cpu.area);

  std::srand(12345);
  std::vector<MeshSample> picked;
  picked.reserve(sampleNum);
  std::vector<Eigen::Vector3d> candidates;
  std::vector<Draw> draws;
  std::vector<int> kept;
  for (std::size_t m = 0; m < meshes.size(); ++m) {
    const int n_m = points[m];
    if (n_m == 0) continue;
    const host_MeshData& mesh = meshes[m]->data_cpu;
    candidates.resize(candidateCount[m]);
    draws.resize(candidateCount[m]);
    std::size_t c = 0;
    for (std::size_t f = 0; f < mesh.faces.size(); ++f) {
      const MeshFace& face = mesh.faces[f];
      for (int k = 0; k < perFace[m][f]; ++k, ++c) {
        const int u = std::rand() % 100;
        const int v = std::rand() % 100;
        const std::array<double, 3> b = weightsOf(u, v);
        candidates[c] = b[0] * mesh.init_positions[face.vert0] + b[1] * mesh.init_positions[face.vert1] +
                        b[2] * mesh.init_positions[face.vert2];
        draws[c] = Draw{static_cast<int>(f), static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(v)};
      }
    }

    const double d_max = 2 * std::sqrt(mesh.area / n_m / kTwoSqrt3);
    kept.resize(n_m);
    weightedSampleElimination(candidates.data(), static_cast<int>(candidates.size()), kept.data(), n_m, true, d_max);
    // Candidates often coincide (the weights take a hundred values): a kept point is its own candidate only.
    for (int k : kept) {
      const Draw& d = draws[k];
      const std::array<double, 3> b = weightsOf(d.u, d.v);
      picked.push_back(MeshSample{static_cast<int>(m), mesh.faces[d.face].linkIdx, d.face, {b[0], b[1], b[2]}});
    }
  }

  std::stable_sort(picked.begin(), picked.end(),
                   [](const MeshSample& a, const MeshSample& b) { return a.linkIdx < b.linkIdx; });
  std::vector<int> links(picked.size());
  for (std::size_t i = 0; i < picked.size(); ++i) links[i] = picked[i].linkIdx;
  std::vector<SampleWrench> wrenches(picked.size());

  // The points share the whole surface: a disc of the spacing's radius (pi r^2 for 2 sqrt 3 r^2 of
  // surface per point) would leave a tenth of it out of the forces. No point stands for no area.
  const int count = static_cast<int>(picked.size());
  const float pointArea = count > 0 ? A / static_cast<float>(count) : 0.0f;
  auto pointSet = std::make_unique<mlLagrangeBoundary>(count, pointArea);

  // Only now, with the new points in hand, do the old ones go: memory that cannot be had loses nothing.
  // Their device copies make room for the new ones; a device that has no room for those all the same
  // takes the old points back, brought up to date first.
  const bool hadPoints = boundary != nullptr;
  if (hadPoints) {
    if (deviceDirty) download();
    memMgr.attach(nullptr);
    freeGpu();
  }
  const float oldArea = totalArea;
  auto takeTurns = [&] {
    boundary.swap(pointSet);
    samples.swap(picked);
    sampleLinkIdx.swap(links);
    sampleWrenches.swap(wrenches);
  };
  takeTurns();
  totalArea = A;
  try {
    updateSamplesCpu();
    allocGpu();
    upload();
  } catch (...) {
    takeTurns();
    totalArea = oldArea;
    if (hadPoints) {
      allocGpu();
      upload();
    }
    throw;
  }
}

void IBSamplerMesh::update(bool useGpu, bool download) {
  if (useGpu) {
    if (hostDirty) upload();
    updateSamplesGpu();
    if (!download) {
      hostDirty = false;
      deviceDirty = true;
    } else {
      this->download();
    }
  } else {
    updateSamplesCpu();
    hostDirty = true;
    deviceDirty = false;
  }
}

void IBSamplerMesh::updateSamplesCpu() {
  if (!boundary) {
    std::puts(" Error boundary host data not setted");
    return;
  }
  writeSamplesToBoundary();
}

void IBSamplerMesh::writeSamplesToBoundary() {
  mlLagrangeBoundary& b = *boundary;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const MeshSample& s = samples[i];
    const host_MeshData& mesh = skeletalMesh->meshes[s.meshIdx]->data_cpu;
    const MeshFace& face = mesh.faces[s.faceIdx];
    const Eigen::Vector3d p = s.bary[0] * mesh.curr_positions[face.vert0] +
                              s.bary[1] * mesh.curr_positions[face.vert1] + s.bary[2] * mesh.curr_positions[face.vert2];
    const Eigen::Vector3d n = s.bary[0] * mesh.curr_normals[face.vert0] + s.bary[1] * mesh.curr_normals[face.vert1] +
                              s.bary[2] * mesh.curr_normals[face.vert2];
    b.coordx[i] = b.coordInitx[i] = static_cast<float>(p.x());
    b.coordy[i] = b.coordInity[i] = static_cast<float>(p.y());
    b.coordz[i] = b.coordInitz[i] = static_cast<float>(p.z());
    b.normalx[i] = static_cast<float>(n.x());
    b.normaly[i] = static_cast<float>(n.y());
    b.normalz[i] = static_cast<float>(n.z());
  }
}

void IBSamplerMesh::updateSamplesGpu() {
  cudaSetDevice(gpuId);
  if (skeletalMesh == nullptr) return;
  requireDeviceCopies("updateSamplesGpu");
  const int n = static_cast<int>(samples.size());
  for (std::size_t m = 0; m < skeletalMesh->meshes.size(); ++m) {
    const device_MeshData& mesh = skeletalMesh->meshes[m]->data_gpu;
    launchUpdateSamplesPosNormal(static_cast<int>(m), mesh.faces, samples_gpu, mesh.curr_positions, mesh.curr_normals,
                                 memMgr.coordx_dev, memMgr.coordy_dev, memMgr.coordz_dev, memMgr.normalx_dev,
                                 memMgr.normaly_dev, memMgr.normalz_dev, n);
  }
}

void IBSamplerMesh::allocGpu() {
  if (!boundary) throw std::logic_error("IBSamplerMesh::allocGpu: nothing sampled yet");
  cudaSetDevice(gpuId);
  freeDevice(samples_gpu);
  freeDevice(sampleLinkIdx_gpu);
  freeDevice(sampleWrenches_gpu);
  // A device without room for them leaves the points without device copies.
  try {
    allocAndCopy(samples_gpu, samples);
    allocAndCopy(sampleLinkIdx_gpu, sampleLinkIdx);
    allocAndCopy(sampleWrenches_gpu, sampleWrenches);
    memMgr.attach(boundary.get());
    memMgr.alloc();
  } catch (...) {
    freeGpu();
    throw;
  }
}

void IBSamplerMesh::freeGpu() {
  cudaSetDevice(gpuId);
  freeDevice(samples_gpu);
  freeDevice(sampleLinkIdx_gpu);
  freeDevice(sampleWrenches_gpu);
  memMgr.freeGpu();
}

void IBSamplerMesh::upload() {
  cudaSetDevice(gpuId);
  requireDeviceCopies("upload");
  checkCudaErrors(cudaMemcpy(samples_gpu, samples.data(), samples.size() * sizeof(MeshSample), cudaMemcpyHostToDevice));
  memMgr.upload();
  hostDirty = false;
}

void IBSamplerMesh::download() {
  cudaSetDevice(gpuId);
  requireDeviceCopies("download");
  checkCudaErrors(cudaMemcpy(samples.data(), samples_gpu, samples.size() * sizeof(MeshSample), cudaMemcpyDeviceToHost));
  memMgr.download();
  deviceDirty = false;
}

// The point set's device mirror goes with the device copies: both are allocated together.
void IBSamplerMesh::requireDeviceCopies(const char* operation) const {
  if (!samples.empty() && (samples_gpu == nullptr || memMgr.mllaboundary_gpu == nullptr))
    throw std::logic_error(std::string("IBSamplerMesh::") + operation + ": the samples have no device copies");
}
