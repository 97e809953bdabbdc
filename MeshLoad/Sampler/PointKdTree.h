// An implicit, left-balanced kd-tree over 3-D points, built for the radius searches of the sample
// elimination. Node k (1-based) has the children 2k and 2k + 1, so the n nodes fill entries 1 .. n of
// one array with no pointers.
#pragma once

#include <Eigen/Core>

#include <cstdint>
#include <vector>

class PointKdTree {
 public:
  // A node packs its point's index with the split axis as index * 4 + axis in 32 bits.
  static constexpr std::int64_t kMaxPoints = std::int64_t(1) << 30;

  // Builds the tree over points[0 .. n), which must be finite. The storage is kept, so a rebuild over
  // as many points or fewer allocates nothing. Throws std::invalid_argument for n outside [0, kMaxPoints].
  void build(const Eigen::Vector3d* points, int n);

  // Calls visit(index, squaredDistance) exactly once for every point p with |p - q|^2 < radius^2.
  template <class Visit>
  void radiusSearch(const Eigen::Vector3d& q, double radius, Visit&& visit) const;

  int size() const { return count_; }

 private:
  struct Node {
    double p[3];              // a copy of the point, so a search touches the node array only
    std::uint32_t indexAxis;  // index * 4 + split axis
  };

  void buildNode(std::int64_t k, int* begin, int* end, const Eigen::Vector3d* points);

  std::vector<Node> nodes_;  // entry 0 unused
  std::vector<int> order_;   // index permutation partitioned by the build
  int count_ = 0;
};

template <class Visit>
void PointKdTree::radiusSearch(const Eigen::Vector3d& q, double radius, Visit&& visit) const {
  if (count_ == 0) return;
  const double r2 = radius * radius;
  const auto test = [&](const Node& node) {
    const double dx = q[0] - node.p[0], dy = q[1] - node.p[1], dz = q[2] - node.p[2];
    const double d2 = dx * dx + dy * dy + dz * dz;
    if (d2 < r2) visit(static_cast<int>(node.indexAxis >> 2), d2);
  };
  // Nodes below innerEnd have two children. With an even count the last inner node has one child, node
  // count_, which the loop treats as a leaf's; that node is tested after the loop.
  const int innerEnd = (count_ + 1) / 2;
  // The stack holds one pending sibling per level plus the current node: at most 32 for 2^30 points.
  int stack[64];
  int top = 0;
  stack[0] = 1;
  while (top >= 0) {
    const int k = stack[top];
    const Node& node = nodes_[k];
    if (k < innerEnd) {
      const int axis = static_cast<int>(node.indexAxis & 3u);
      const double d = q[axis] - node.p[axis];
      const int near = d > 0 ? 2 * k + 1 : 2 * k;
      stack[top] = near;
      if (d * d < r2) stack[++top] = near ^ 1;
    } else {
      --top;
    }
    test(node);
  }
  if (count_ % 2 == 0) test(nodes_[count_]);
}
