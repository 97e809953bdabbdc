// Markers: host and device sides, following mesh vertices, and sampling a device lattice.
#include <gtest/gtest.h>

#include <cmath>

#include "../gpu/gpuLattice.h"
#include "Markers/Markers.h"
#include "Markers/MarkersGPUKernel.h"

namespace {

using Eigen::Vector3d;

// Markers at the given positions, uploaded, with velocity (7, 8, 9) and pressure 42 to tell a kept value
// from a sampled one.
std::shared_ptr<Markers> markersAt(const std::vector<Vector3d>& positions) {
  auto m = std::make_shared<Markers>(0);
  for (std::size_t k = 0; k < positions.size(); ++k)
    m->addMarker(0, static_cast<int>(k), positions[k], Vector3d::UnitZ());
  for (Vector3d& v : m->data_cpu.velocity) v = Vector3d(7, 8, 9);
  for (float& p : m->data_cpu.pressure) p = 42;
  m->allocAndUpload();
  return m;
}

void sample(Markers& m, const gputest::GpuLattice& lattice) {
  launchGetMarkersProperties(lattice.dev, m.data_gpu.pos, m.data_gpu.velocity, m.data_gpu.pressure,
                             static_cast<int>(m.data_cpu.pos.size()));
  m.download();
}

// Fields of the position relative to the origin: ux, uz and rou are linear (reproduced exactly by any
// cell, even by extrapolation); uy = x^2 is reproduced only as the chord between the two nodes around x.
double ux(const Vector3d& d) { return 1 + 0.5 * d.x() - 0.25 * d.y() + 2 * d.z(); }
double uz(const Vector3d& d) { return -0.3 * d.x() + 0.7 * d.y() - 0.1 * d.z(); }
double rou(const Vector3d& d) { return 1 + 0.01 * (d.x() + 2 * d.y() + 3 * d.z()); }

// Width 10 with spacing 0.3 (34 nodes, the last at 9.9); height 1 and depth 0.75 are no multiples either.
struct MarkerLattice : ::testing::Test {
  const float start[3] = {-1, 2, 0.5};
  const float dx = 0.3f;
  gputest::GpuLattice lattice{gputest::restBox(10, 1, 0.75f, 0.05f, dx, start)};
  const Vector3d origin{start[0], start[1], start[2]};

  void SetUp() override {
    mlFlow& f = *lattice.host;
    for (int z = 0; z < lattice.nz(); ++z)
      for (int y = 0; y < lattice.ny(); ++y)
        for (int x = 0; x < lattice.nx(); ++x) {
          const std::size_t i = lattice.index(x, y, z);
          const Vector3d d(x * dx, y * dx, z * dx);
          f.ux[i] = static_cast<float>(ux(d));
          f.uy[i] = static_cast<float>(d.x() * d.x());
          f.uz[i] = static_cast<float>(uz(d));
          f.rou[i] = static_cast<float>(rou(d));
        }
    lattice.upload();
  }
};

TEST_F(MarkerLattice, LinearFieldsAreReproducedUpToTheUpperFacesAndMarkersOutsideKeepTheirValues) {
  ASSERT_EQ(lattice.nx() * lattice.ny() * lattice.nz(), 34 * 4 * 3);
  const std::vector<Vector3d> inside = {{0, 0, 0},       {5.0, 0.35, 0.41},  {0, 0.5, 0.3},
                                        {2.95, 0, 0.75}, {9.9, 0.9, 0.6},    {9.95, 0.95, 0.7},
                                        {10, 1, 0.75},   {0.31, 0.99, 0.02}, {6.07, 0.6, 0.5}};
  const std::vector<Vector3d> outside = {{-0.01, 0.5, 0.3}, {10.01, 0.5, 0.3}, {5, -0.01, 0.3}, {5, 1.01, 0.3},
                                         {5, 0.5, -0.01},   {5, 0.5, 0.76},    {NAN, 0.5, 0.3}};
  std::vector<Vector3d> positions;
  for (const auto* list : {&inside, &outside})
    for (const Vector3d& d : *list) positions.push_back(origin + d);
  auto m = markersAt(positions);
  sample(*m, lattice);
  const std::vector<Vector3d> vel = m->getMarkersVel();
  const std::vector<float> rho = m->getMarkersPressure();
  for (std::size_t k = 0; k < inside.size(); ++k) {
    const Vector3d& d = inside[k];
    // The chord of x^2 between the nodes around x; beyond the last node, the last cell's chord.
    const double xi = std::min(std::floor(d.x() / 0.3 + 1e-9), 32.0) * 0.3;
    EXPECT_NEAR(vel[k].x(), ux(d), 2e-5) << d.transpose();
    EXPECT_NEAR(vel[k].y(), xi * xi + (2 * xi + 0.3) * (d.x() - xi), 1e-4) << d.transpose();
    EXPECT_NEAR(vel[k].z(), uz(d), 2e-5) << d.transpose();
    EXPECT_NEAR(rho[k], rou(d), 2e-6) << d.transpose();
  }
  // The lowest corner reads node (0, 0, 0) exactly.
  EXPECT_EQ(vel[0].x(), lattice.host->ux[0]);
  EXPECT_EQ(rho[0], lattice.host->rou[0]);
  for (std::size_t k = inside.size(); k < positions.size(); ++k) {
    EXPECT_EQ(vel[k], Vector3d(7, 8, 9)) << k;
    EXPECT_EQ(rho[k], 42.0f) << k;
  }
}

TEST_F(MarkerLattice, SamplingFollowsTheDeviceOrigin) {
  // The fluid step moves the device lattice with a moving frame; the host record keeps its origin.
  const float moved[3] = {start[0] + 0.5f, start[1], start[2]};
  ASSERT_EQ(cudaMemcpy(lattice.dev->start, moved, sizeof moved, cudaMemcpyHostToDevice), cudaSuccess);
  auto m = markersAt({origin + Vector3d(0.5, 0, 0)});
  sample(*m, lattice);
  EXPECT_EQ(m->getMarkersPressure()[0], lattice.host->rou[0]);
}

TEST(Markers, NoMarkersOrAFlatLatticeSampleNothing) {
  gputest::GpuLattice flat(4, 1, 4);
  flat.upload();
  auto none = markersAt({});
  const std::size_t launches = dz::device::counters().launches;
  sample(*none, flat);
  launchCopyMarkersPosNormal(none->data_gpu.vId, none->data_gpu.pos, none->data_gpu.normal, nullptr, nullptr, 0);
  EXPECT_EQ(dz::device::counters().launches, launches);
  none->upload();
  auto m = markersAt({Vector3d(1, 0, 1), Vector3d(1, 0.5, 1)});
  sample(*m, flat);
  EXPECT_EQ(m->getMarkersVel(), std::vector<Vector3d>(2, Vector3d(7, 8, 9)));
}

TEST(Markers, HostAndDeviceSidesAndFollowingMeshVertices) {
  const std::size_t live = dz::device::counters().liveAllocations;
  {
    Markers m(0);
    m.addMarker(0, 3, Vector3d(1, 2, 3), Vector3d(0, 1, 0));
    EXPECT_EQ(m.getMarkersVel(), std::vector<Vector3d>{Vector3d::Zero()});
    EXPECT_EQ(m.getMarkersPressure(), std::vector<float>{1.0f});
    EXPECT_THROW(m.upload(), std::logic_error);  // not allocated
    m.allocAndUpload();
    m.allocAndUpload();  // again: the earlier arrays are released
    EXPECT_EQ(dz::device::counters().liveAllocations, live + 5);
    m.dirty_cpu = m.dirty_gpu = true;
    m.upload();
    m.download();
    EXPECT_FALSE(m.dirty_cpu || m.dirty_gpu);
    m.addMarker(0, 4, Vector3d::Zero(), Vector3d::Zero());
    EXPECT_THROW(m.download(), std::logic_error);  // more markers than device arrays
    m.dirty_cpu = m.dirty_gpu = true;
    m.freeGpu();
    EXPECT_FALSE(m.dirty_cpu || m.dirty_gpu);
    EXPECT_EQ(dz::device::counters().liveAllocations, live);
    m.allocAndUpload();
  }
  EXPECT_EQ(dz::device::counters().liveAllocations, live);  // the destructor frees

  // Markers follow the vertices they name: a mesh's device arrays, made here as those of markers.
  const std::vector<Vector3d> meshPos = {{0, 0, 0}, {1, 2, 3}, {-4, 5, 6}, {7, -8, 9}};
  const std::vector<Vector3d> meshNormal = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0.6, 0.8, 0}};
  Markers mesh(0);
  for (std::size_t v = 0; v < meshPos.size(); ++v) mesh.addMarker(0, 0, meshPos[v], meshNormal[v]);
  mesh.allocAndUpload();
  Markers m(0);
  const int vIds[] = {2, 0, 3, -1};  // the last follows no vertex
  for (int v : vIds) m.addMarker(1, v, Vector3d(9, 9, 9), Vector3d(0, 0, -1));
  m.allocAndUpload();
  launchCopyMarkersPosNormal(m.data_gpu.vId, m.data_gpu.pos, m.data_gpu.normal, mesh.data_gpu.pos, mesh.data_gpu.normal,
                             4);
  m.download();
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(m.getMarkersPos()[k], meshPos[vIds[k]]);
    EXPECT_EQ(m.getMarkersNormal()[k], meshNormal[vIds[k]]);
  }
  EXPECT_EQ(m.getMarkersPos()[3], Vector3d(9, 9, 9));
}

}  // namespace
