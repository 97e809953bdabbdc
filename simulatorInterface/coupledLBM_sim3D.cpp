// Lifecycle, step and host/device sync of the coupled simulator.
#include "coupledLBM_sim3D.h"

#include <dart/dynamics/Frame.hpp>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

#include "FluidHelper.h"
#include "Markers/Markers.h"
#include "Markers/MarkersGPUKernel.h"
#include "SkeletonDynamics/skSystem.h"
#include "SkeletonDynamics/skWorld.h"
#include "duriz/gpu_inc/cudaCheck.h"
#include "duriz/mlsolver/availableMemory.h"
#include "duriz/mlsolver/d3q27.h"
#include "duriz/mlsolver/mlSinglePhaseSolverNew.h"
#include "duriz/mlsolver/valueText.h"

namespace {

// Physical duration of one lattice step (s).
float latticeTimestep(const mlLatticeUnits& u) { return u.l0p * u.u0k / (u.N * u.u0p[0]); }

}  // namespace

coupledLBM_sim3D::coupledLBM_sim3D(std::shared_ptr<simParams> param, int gpuId) {
  if (!param) throw std::invalid_argument("simulator3D: no parameter record");
  requireGpuDevice(gpuId, "simulator3D");
  this->gpuId = gpuId;
  params.push_back(std::move(param));
  buildLattices();
}

coupledLBM_sim3D::coupledLBM_sim3D(const coupledLBM_sim3D& other) : GpuCopyable(other), params(other.params) {
  buildLattices();
}

coupledLBM_sim3D::~coupledLBM_sim3D() {
  if (solver) solver->freeGpu();
}

void coupledLBM_sim3D::buildLattices() {
  if (solver) throw std::logic_error("buildLattices: the simulator is committed; its device lattices mirror these");
  lattices.clear();
  if (params.empty()) return;
  simParams& p = *params.front();
  p.complete();
  p.requireRunnable();
  std::unique_ptr<mlFlow> lattice = initFlow(params.front());
  requireOpenBoundaryFits(p, *lattice);
  lattices.push_back(std::move(lattice));
  builtFrom = p;
}

std::shared_ptr<simParams> coupledLBM_sim3D::getParams() const { return params.empty() ? nullptr : params.front(); }

void coupledLBM_sim3D::attachWorld(std::shared_ptr<skWorld> world) { this->world = std::move(world); }

void coupledLBM_sim3D::commitInit() {
  if (!world) throw std::logic_error("commitInit: no world attached; call attachWorld first");
  if (lattices.empty())
    throw std::logic_error("commitInit: the simulator has no parameter record; construct it from a simParam");
  // The record may have been edited since the lattice was laid out: its units may change, its shape not.
  simParams& p = *params.front();
  p.complete();
  requireUnchangedShape();
  p.requireRunnable();
  for (std::size_t k = 0; k < lattices.size(); ++k) requireOpenBoundaryFits(*params[k], *lattices[k]);
  requireDeviceRoom();
  // The replaced solver's device lattices would otherwise stay allocated for the life of the process. Until
  // the new one has mirrored every lattice the simulator is not committed.
  if (solver) solver->freeGpu();
  solver.reset();

  auto next = std::make_shared<mlSinglePhaseSolverNew>();
  next->gpuDeviceId = gpuId;
  next->ibDeltaWidth = 4;
  next->units = p.toLatticeUnits();
  next->units.tp = latticeTimestep(next->units);
  for (auto& record : params) next->units_vec.push_back(record->toLatticeUnits());

  // Every node at rest at density 1: the distributions are the equilibrium, that is the weights. The
  // lattice takes the viscosity, slip ratio and open-boundary planes the record gives now.
  for (std::size_t k = 0; k < lattices.size(); ++k) {
    mlFlow& l = *lattices[k];
    const simParams& record = *params[k];
    for (std::size_t i = 0; i < l.count; ++i) {
      l.rou[i] = 1.0f;
      l.ux[i] = l.uy[i] = l.uz[i] = 0.0f;
      for (int q = 0; q < d3q27::Q; ++q)
        l.f[q * l.count + i] = l.fPost[q * l.count + i] = d3q27::equilibrium(q, 1.0f, 0.0f, 0.0f, 0.0f);
    }
    l.viscosity = next->units_vec[k].v0k;
    l.param->slip_ratio = record.slip_ratio;
    l.param->pml_width = record.pml_width;
  }
  next->ibDeviceId = next->gpuDeviceId;

  centreOnReferenceFrame();

  checkCudaErrors(cudaSetDevice(next->gpuDeviceId));
  try {
    for (auto& l : lattices) next->addLattice(l.get());
  } catch (...) {
    next->freeGpu();
    throw;
  }

  // One rigid-body step lasts one lattice step.
  world->setTimestep(latticeTimestep(p.toLatticeUnits()));
  next->couplingSolver = world;
  next->ibBoundaries = world->getLagrangeBoundaries();
  solver = std::move(next);
}

void coupledLBM_sim3D::step(couplingMode couple_mode) {
  requireCommitted("step");
  if (couple_mode < TWO_WAY || couple_mode > EMPIRICAL)
    throw std::invalid_argument("step: couple_mode " + std::to_string(couple_mode) +
                                " names no coupling mode (TWO_WAY 0, ONE_WAY 1, NO_FLUID 2, EMPIRICAL 3)");
  // What the world would refuse before it begins is refused before the fluid moves.
  world->requireSteppable();
  if (copiesEnabled() && isFluidMode(couple_mode)) {
    if (syncState == HOST_EDITED) uploadAll();
    syncState = DEVICE_NEWER;
  }

  // Bodies added to the world, or a world attached, since the commit take part from this step on.
  solver->couplingSolver = world;
  solver->ibBoundaries = world->getLagrangeBoundaries();
  solver->solverStep(couple_mode);

  // Without the fluid kernels only the device origin changed: a fresh host copy is stale from now on,
  // and pending host edits keep their data but take the new origin.
  if (copiesEnabled() && !isFluidMode(couple_mode) && !world->isInertialFrame() && world->getRefFrame()) {
    if (syncState == HOST_FRESH)
      syncState = DEVICE_NEWER;
    else if (syncState == HOST_EDITED)
      fetchDeviceOrigins();
  }

  for (auto& system : world->systems) {
    Markers& markers = *system->markers;
    launchGetMarkersProperties(solver->lbm_dev_gpu[0], markers.data_gpu.pos, markers.data_gpu.velocity,
                               markers.data_gpu.pressure, static_cast<int>(markers.data_cpu.pos.size()));
    markers.download();
  }
  ++iterNum;
}

int coupledLBM_sim3D::getIterPerSave(int frame_rate) {
  if (params.empty()) throw std::logic_error("getIterPerSave: the simulator has no parameter record");
  if (frame_rate <= 0)
    throw std::invalid_argument("getIterPerSave: frame_rate must be positive, got " + std::to_string(frame_rate));
  const mlLatticeUnits u = params.front()->toLatticeUnits();
  const float perSave = u.N * u.u0p[0] / (static_cast<float>(frame_rate) * u.l0p * u.u0k);
  if (!(perSave < 2147483648.0f))
    throw std::invalid_argument("getIterPerSave: the units give no finite number of steps per frame (N = " +
                                std::to_string(u.N) + ", u0p = " + std::to_string(u.u0p[0]) +
                                ", l0p = " + std::to_string(u.l0p) + ", u0k = " + std::to_string(u.u0k) + ")");
  // A frame shorter than one lattice step still saves once per step.
  return std::max(1, static_cast<int>(perSave));
}

void coupledLBM_sim3D::prepareHostWrite() {
  if (syncState == DEVICE_NEWER && copiesEnabled()) downloadAll();
  syncState = HOST_EDITED;
}

void coupledLBM_sim3D::prepareHostRead() {
  if (syncState == DEVICE_NEWER && copiesEnabled()) {
    downloadAll();
    syncState = HOST_FRESH;
  }
}

void coupledLBM_sim3D::prepareHostAccess(bool keepFresh) {
  prepareHostRead();
  if (!keepFresh) syncState = HOST_EDITED;
}

void coupledLBM_sim3D::centreOnReferenceFrame() {
  const dart::dynamics::Frame* frame = world->getRefFrame();
  if (!frame || world->isInertialFrame()) return;
  const Eigen::Vector3d t = frame->getWorldTransform().translation();
  mlFlow& l = *lattices.front();
  const float extent[3] = {l.param->width, l.param->height, l.param->depth};
  for (int a = 0; a < 3; ++a) {
    const float centre = static_cast<float>(t[a]);
    l.start[a] = static_cast<float>(centre - 0.5 * extent[a]);
  }
}

void coupledLBM_sim3D::requireOpenBoundaryFits(const simParams& p, const mlFlow& lattice) {
  // The open-boundary planes lie pml_width nodes inside each face: they must not pass each other.
  for (int a = 0; a < 3; ++a) {
    const int n = lattice.param->samples[a];
    if (p.pml_width > (n - 1) / 2)  // not 2 * pml_width, which overflows for a large one
      throw std::invalid_argument("simParam: pml_width = " + std::to_string(p.pml_width) +
                                  " is wider than half the lattice, whose axis " + "xyz"[a] + " has " +
                                  std::to_string(n) + " nodes (at most " + std::to_string((n - 1) / 2) + ")");
  }
}

void coupledLBM_sim3D::requireUnchangedShape() const {
  const simParams& now = *params.front();
  const std::pair<const char*, float simParams::*> shape[] = {
      {"x0", &simParams::x0},       {"y0", &simParams::y0},         {"z0", &simParams::z0},
      {"width", &simParams::width}, {"height", &simParams::height}, {"depth", &simParams::depth},
      {"dx", &simParams::dx},       {"N", &simParams::N},           {"l0p", &simParams::l0p}};
  for (const auto& [field, member] : shape) {
    const float built = builtFrom.*member, edited = now.*member;
    if (edited == built) continue;
    throw std::invalid_argument(std::string("commitInit: simParam.") + field + " = " + valueText(edited) +
                                " differs from " + valueText(built) +
                                ", the value the lattice was built with; the box and its spacing are fixed when "
                                "the simulator is made (make a new simulator3D for another lattice)");
  }
}

void coupledLBM_sim3D::requireDeviceRoom() const {
  std::uint64_t needed = 0, reclaimed = 0;
  for (const auto& l : lattices) needed += l->count * kLatticeBytesPerNode + sizeof(mlFlow) + sizeof(MLFluidParam);
  // The arrays of an earlier commit are released before the new ones are allocated.
  if (solver)
    for (const mlFlow* l : solver->lbmvec) reclaimed += l->count * kLatticeBytesPerNode;
  MemoryLimit room = deviceMemoryAvailable();
  room.bytes += reclaimed;
  const mlFlow& l = *lattices.front();
  requireMemory("commitInit: the device mirror of a lattice of " + std::to_string(l.param->samples[0]) + " x " +
                    std::to_string(l.param->samples[1]) + " x " + std::to_string(l.param->samples[2]) + " nodes (" +
                    std::to_string(kLatticeBytesPerNode) + " bytes per node)",
                needed, room);
}

void coupledLBM_sim3D::requireCommitted(const char* operation) const {
  if (!solver)
    throw std::logic_error(std::string(operation) + ": the simulator is not committed; call commitInit first");
  if (!world) throw std::logic_error(std::string(operation) + ": no world attached; call attachWorld first");
}

mlFlow& coupledLBM_sim3D::lattice(int scale, const char* operation) {
  if (scale < 0 || static_cast<std::size_t>(scale) >= lattices.size())
    throw std::out_of_range(std::string(operation) + ": scale " + std::to_string(scale) +
                            " names no lattice; there are " + std::to_string(lattices.size()));
  return *lattices[scale];
}

void coupledLBM_sim3D::downloadAll() {
  for (std::size_t i = 0; i < lattices.size(); ++i) FluidHelper::download(*solver, static_cast<int>(i));
}

void coupledLBM_sim3D::uploadAll() {
  for (std::size_t i = 0; i < lattices.size(); ++i) FluidHelper::upload(*solver, static_cast<int>(i));
}

void coupledLBM_sim3D::fetchDeviceOrigins() {
  checkCudaErrors(cudaSetDevice(solver->gpuDeviceId));
  for (std::size_t i = 0; i < lattices.size(); ++i) {
    mlFlow record;
    checkCudaErrors(cudaMemcpy(&record, solver->lbm_dev_gpu[i], sizeof(mlFlow), cudaMemcpyDeviceToHost));
    std::copy(record.start, record.start + 3, lattices[i]->start);
    record.dropPointers();
  }
}
