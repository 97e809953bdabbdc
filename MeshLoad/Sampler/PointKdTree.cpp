#include "PointKdTree.h"

#include <algorithm>
#include <numeric>
#include <stdexcept>
#include <string>

namespace {

// Size of the left subtree of a left-balanced complete binary tree of c >= 2 nodes.
int leftCount(int c) {
  int full = 1;  // 2^k <= c < 2^(k+1)
  while (full <= c / 2) full *= 2;
  const int half = full / 2;
  return c <= full + half - 2 ? c - half : full - 1;
}

// Subtrees smaller than this are built by the thread that reaches them.
constexpr int kTaskPoints = 1 << 14;

}  // namespace

void PointKdTree::build(const Eigen::Vector3d* points, int n) {
  if (n < 0 || n > kMaxPoints)
    throw std::invalid_argument("PointKdTree: point count " + std::to_string(n) + " outside [0, 2^30]");
  count_ = n;
  onlyChild_ = -1;
  nodes_.resize(n);
  order_.resize(n);
  std::iota(order_.begin(), order_.end(), 0);
  if (n == 0) return;
#pragma omp parallel if (n > kTaskPoints)
#pragma omp single
  buildNode(0, order_.data(), order_.data() + n, points);
}

// The node over the index range [begin, end) is followed by its left subtree, then its right one.
void PointKdTree::buildNode(int node, int* begin, int* end, const Eigen::Vector3d* points) {
  const int c = static_cast<int>(end - begin);
  if (c == 0) return;
  if (c == 1) {
    const Eigen::Vector3d& p = points[*begin];
    nodes_[node] = Node{{p[0], p[1], p[2]}, static_cast<std::uint32_t>(*begin) * 4u, 0u};
    return;
  }
  Eigen::Vector3d lo = points[*begin], hi = lo;
  for (const int* i = begin + 1; i != end; ++i) {
    lo = lo.cwiseMin(points[*i]);
    hi = hi.cwiseMax(points[*i]);
  }
  const Eigen::Vector3d extent = hi - lo;
  int axis = extent[1] > extent[0] ? 1 : 0;
  if (extent[2] > std::max(extent[0], extent[1])) axis = 2;

  const int L = leftCount(c);
  int* median = begin + L;
  std::nth_element(begin, median, end, [&](int a, int b) { return points[a][axis] < points[b][axis]; });
  const Eigen::Vector3d& p = points[*median];
  // Two points make the one node with a single child (its left); the search takes it for a leaf.
  nodes_[node] = Node{{p[0], p[1], p[2]},
                      static_cast<std::uint32_t>(*median) * 4u + static_cast<std::uint32_t>(axis),
                      c > 2 ? static_cast<std::uint32_t>(L + 1) : 0u};
  if (c == 2) onlyChild_ = node + 1;
  if (c > kTaskPoints) {
#pragma omp task
    buildNode(node + 1, begin, median, points);
    buildNode(node + 1 + L, median + 1, end, points);
#pragma omp taskwait
  } else {
    buildNode(node + 1, begin, median, points);
    buildNode(node + 1 + L, median + 1, end, points);
  }
}
