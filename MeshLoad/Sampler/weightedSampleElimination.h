// Poisson-disk thinning by weighted sample elimination: removes, one at a time, the point most crowded
// by its neighbours within d_max until the wanted count is left. Each neighbour j of point i adds
// (1 - max(|p_j - p_i|, d_min) / d_max)^alpha to the weight of i; a max-heap picks the next point and
// only the neighbours of a removed point are re-weighed, so a pass costs O(m log m). The kd-tree, the
// weights and the neighbour lists are made on all OpenMP threads; the result does not depend on their
// number.
#pragma once

#include <Eigen/Core>

struct EliminationSettings {
  double alpha = 8.0;  // exponent of the weight (1 - d / d_max)^alpha
  // Weight limiting: d_min = d_max * beta * (1 - (n_out / n_in)^gamma).
  double beta = 0.65;
  double gamma = 1.5;
  bool weightLimiting = true;  // distances below d_min count as d_min
};

// Keeps n_out of the n_in finite points `input` and writes their indices to `kept` (room for n_out).
// Without `progressive` the kept points come in the heap order of the last elimination. With it they
// are reordered so that every prefix of length n_out / 2, n_out / 4, ... (down to the first below 3)
// is what eliminating the next longer prefix down to that length keeps (d_max grows by sqrt 2 a level).
// A d_max that is not positive (NaN and -inf included) becomes 2 sqrt(1 / n_out / (2 sqrt 3)), the spacing
// of n_out points on a unit area. Throws std::invalid_argument unless 0 < n_out <= n_in <= 2^30, and for a
// d_max of +inf.
void weightedSampleElimination(const Eigen::Vector3d* input, int n_in, int* kept, int n_out, bool progressive,
                               double d_max, const EliminationSettings& settings = {});
