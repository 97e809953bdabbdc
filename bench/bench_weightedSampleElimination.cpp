// Weighted sample elimination: random candidates on a unit sphere thinned to a tenth, as the sampler
// does per mesh, with and without the progressive reordering. Prints ms per call and candidates per
// second.
#include <Eigen/Core>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "MeshLoad/Sampler/weightedSampleElimination.h"

namespace {

std::vector<Eigen::Vector3d> sphere(int n) {
  std::mt19937 gen(1);
  std::normal_distribution<double> g;
  std::vector<Eigen::Vector3d> p(n);
  for (auto& x : p) x = Eigen::Vector3d(g(gen), g(gen), g(gen)).normalized();
  return p;
}

}  // namespace

int main() {
  std::printf("%-12s %-10s %-12s %12s %14s\n", "candidates", "points", "progressive", "ms/call", "Mcand/s");
  for (int n_in : {20000, 200000}) {
    const int n_out = n_in / 10;
    const std::vector<Eigen::Vector3d> in = sphere(n_in);
    std::vector<int> kept(n_out);
    const double area = 4 * M_PI;
    const double d_max = 2 * std::sqrt(area / n_out / 3.4641016151377544);
    for (bool progressive : {false, true}) {
      double best = 1e300;
      for (int rep = 0; rep < 3; ++rep) {
        const auto start = std::chrono::steady_clock::now();
        weightedSampleElimination(in.data(), n_in, kept.data(), n_out, progressive, d_max);
        best =
            std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
      }
      std::printf("%-12d %-10d %-12s %12.1f %14.2f\n", n_in, n_out, progressive ? "yes" : "no", best,
                  n_in / best / 1e3);
    }
  }
  return 0;
}
