#include "mlFlow.h"

#include <cmath>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>

#include "OutOfMemory.h"
#include "availableMemory.h"
#include "d3q27.h"

namespace {

// Nodes along one axis: the number of single-precision additions of dx needed for the running sum to
// reach the extent. `last` receives the running sum, from which the last node's coordinate follows.
std::int32_t countNodes(float extent, float dx, float& last) {
  float acc = 0.0f;
  std::int32_t n = 0;
  while (extent > acc) {
    acc += dx;
    ++n;
  }
  last = acc;
  return n;
}

// An extent that is not finite would lay out no nodes (NaN) or never stop counting (infinity).
void checkExtents(const simParams& p) {
  const std::pair<const char*, float> extents[] = {{"width", p.width}, {"height", p.height}, {"depth", p.depth}};
  for (const auto& [name, value] : extents)
    if (!std::isfinite(value)) {
      std::ostringstream msg;
      msg << "initFlow: " << name << " = " << value << " is not a finite extent";
      throw std::invalid_argument(msg.str());
    }
}

// The node count loop terminates only if every addition of dx still moves the accumulator; rather than
// loop forever (or for billions of steps) reject a spacing that cannot lay out the box.
void checkSpacing(const simParams& p) {
  const float dx = p.dx;
  const float extent = std::fmax(std::fmax(p.width, p.height), p.depth);
  bool valid = std::isfinite(dx) && dx > 0.0f;
  if (valid && extent > 0.0f) {
    // The accumulator stays below extent + dx; the spacing must be resolvable there, and the count
    // must fit the 32-bit node counters.
    const float top = extent + dx;
    valid = top + dx > top && extent / dx < static_cast<float>(1 << 24);
  }
  if (!valid) {
    std::ostringstream msg;
    msg << "initFlow: lattice spacing dx = " << dx
        << " cannot lay out the box (it must be positive, finite and at least the extent / 2^24; "
           "a GRAVITY-mode record needs dx set)";
    throw std::invalid_argument(msg.str());
  }
}

std::string latticeName(const std::int32_t samples[3]) {
  return "a lattice of " + std::to_string(samples[0]) + " x " + std::to_string(samples[1]) + " x " +
         std::to_string(samples[2]) + " nodes";
}

// The kernels index nodes with 32-bit integers, so a lattice holds at most 2^31 - 1 nodes; and this process
// must be able to hold it (with its device mirror where that takes host memory), which is asked before
// anything large is allocated.
void checkNodeCount(const std::int32_t samples[3]) {
  const std::uint64_t plane = static_cast<std::uint64_t>(samples[0]) * static_cast<std::uint64_t>(samples[1]);
  const std::uint64_t limit = std::numeric_limits<std::int32_t>::max();
  if (samples[2] > 0 && plane > limit / static_cast<std::uint64_t>(samples[2])) {
    std::ostringstream msg;
    msg << "initFlow: " << latticeName(samples) << " exceeds the " << limit << " nodes the kernels can address";
    throw std::invalid_argument(msg.str());
  }
  const std::uint64_t copies = deviceMemoryIsHostMemory() ? 2 : 1;
  std::ostringstream what;
  what << "initFlow: " << latticeName(samples) << " (" << kLatticeBytesPerNode << " bytes per node"
       << (copies == 2 ? ", and as many for its device mirror)" : ")");
  requireMemory(what.str(), plane * static_cast<std::uint64_t>(samples[2]) * kLatticeBytesPerNode * copies,
                hostMemoryAvailable());
}

}  // namespace

mlFlow::~mlFlow() { deleteHostFlow(*this); }

void mlFlow::dropPointers() {
  f = fPost = fStore = nullptr;
  flag = nullptr;
  ux = uy = uz = nullptr;
  rou = nullptr;
  param = nullptr;
  forcex = forcey = forcez = nullptr;
  Sopt = nullptr;
}

std::unique_ptr<mlFlow> initFlow(const std::shared_ptr<simParams>& params) {
  if (!params) throw std::invalid_argument("initFlow: no parameter record");
  simParams& p = *params;
  auto flow = std::make_unique<mlFlow>();

  p.complete();
  checkExtents(p);
  checkSpacing(p);
  flow->viscosity = (p.N * p.u0k * p.visp) / (p.u0p * p.l0p);
  flow->start[0] = p.x0 - 0.5f * p.width;
  flow->start[1] = p.y0 - 0.5f * p.height;
  flow->start[2] = p.z0 - 0.5f * p.depth;

  const float extents[3] = {p.width, p.height, p.depth};
  auto* param = new MLFluidParam{};
  for (int a = 0; a < 3; ++a) {
    float last = 0.0f;
    param->samples[a] = countNodes(extents[a], p.dx, last);
    param->start[a] = flow->start[a];
    param->end[a] = last + flow->start[a] - p.dx;
  }
  flow->param = param;
  checkNodeCount(param->samples);
  flow->count = static_cast<std::uint64_t>(param->samples[0]) * static_cast<std::uint64_t>(param->samples[1]) *
                static_cast<std::uint64_t>(param->samples[2]);
  param->width = p.width;
  param->height = p.height;
  param->depth = p.depth;
  param->dx = p.dx;
  param->count = static_cast<std::uint32_t>(flow->count);
  param->slip_ratio = p.slip_ratio;
  param->pml_width = p.pml_width;

  const std::size_t n = flow->count;
  // The distributions the simulator sets to the equilibrium when it commits are zeroed here, so that the
  // memory counted for them is taken now: another lattice made before the commit sees it gone. The spare
  // array is never written on the host. The record releases what was allocated when a later array cannot
  // be had.
  try {
    flow->f = new float[27 * n]();
    flow->fPost = new float[27 * n]();
    flow->fStore = new float[27 * n];
    flow->flag = new MLLATTICENODE_FLAG[n];
    flow->ux = new float[n]();
    flow->uy = new float[n]();
    flow->uz = new float[n]();
    flow->rou = new mlDensity<float>[n];
    flow->forcex = new double[n]();
    flow->forcey = new double[n]();
    flow->forcez = new double[n]();
    flow->Sopt = new float[n]();
  } catch (const std::bad_alloc&) {
    throw OutOfMemory("initFlow: the host could not allocate " + latticeName(param->samples) + " (" +
                      std::to_string(n * kLatticeBytesPerNode) + " bytes)");
  }
  for (std::size_t i = 0; i < n; ++i) {
    flow->flag[i] = NODE_FLUID;
    flow->rou[i] = 1.0f;
  }
  return flow;
}

mlLatticeIndex getLatticeIndex(const mlFlow& flow, float x, float y, float z) {
  const MLFluidParam& p = *flow.param;
  auto axis = [](float v, float start, float extent, std::int32_t n) {
    return static_cast<std::int32_t>(std::floor((v - start) / extent * static_cast<float>(n)));
  };
  return {axis(x, flow.start[0], p.width, p.samples[0]), axis(y, flow.start[1], p.height, p.samples[1]),
          axis(z, flow.start[2], p.depth, p.samples[2])};
}

void setNodeVelocity(mlFlow& flow, std::int32_t index, float ux, float uy, float uz) {
  if (index < 0 || static_cast<std::uint64_t>(index) >= flow.count) return;
  flow.ux[index] = ux;
  flow.uy[index] = uy;
  flow.uz[index] = uz;
  const float rho = flow.rou[index];
  for (int q = 0; q < d3q27::Q; ++q) {
    const float feq = d3q27::equilibrium(q, rho, ux, uy, uz);
    flow.f[q * flow.count + index] = feq;
    flow.fPost[q * flow.count + index] = feq;
  }
}

void deleteHostFlow(mlFlow& flow) {
  delete[] flow.f;
  delete[] flow.fPost;
  delete[] flow.fStore;
  delete[] flow.flag;
  delete[] flow.ux;
  delete[] flow.uy;
  delete[] flow.uz;
  delete[] flow.rou;
  delete flow.param;
  delete[] flow.forcex;
  delete[] flow.forcey;
  delete[] flow.forcez;
  delete[] flow.Sopt;
  flow.dropPointers();
}
