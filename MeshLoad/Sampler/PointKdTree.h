// An implicit, left-balanced kd-tree over 3-D points, built for the radius searches of the sample
// elimination. Its shape is that of a complete binary tree numbered breadth first (node k has the
// children 2k and 2k + 1), and its searches walk it by that numbering; the nodes are stored depth first,
// each subtree in one run of the array (the node, its left subtree, its right subtree), so that a search
// near one place reads one stretch of memory. Nodes are named by their place in that array.
#pragma once

#include <Eigen/Core>

#include <cstdint>
#include <vector>

class PointKdTree {
 public:
  // A node packs its point's index with the split axis as index * 4 + axis in 32 bits.
  static constexpr std::int64_t kMaxPoints = std::int64_t(1) << 30;

  // Builds the tree over points[0 .. n), which must be finite, with large subtrees on several threads
  // (the tree does not depend on their number). The storage is kept, so a rebuild over as many points or
  // fewer allocates nothing. Throws std::invalid_argument for n outside [0, kMaxPoints].
  void build(const Eigen::Vector3d* points, int n);

  // Calls visit(node, squaredDistance) exactly once for every point p with |p - q|^2 < radius^2, in
  // the order of the search (the near child first, the last node of an even count at the end).
  template <class Visit>
  void radiusSearch(const Eigen::Vector3d& q, double radius, Visit&& visit) const;

  int size() const { return count_; }
  int pointOf(int node) const { return static_cast<int>(nodes_[node].indexAxis >> 2); }
  Eigen::Vector3d position(int node) const { return Eigen::Vector3d(nodes_[node].p); }
  void prefetch(int node) const { __builtin_prefetch(&nodes_[node]); }
  // The squared distance the search reports for node from q.
  double squaredDistance(const Eigen::Vector3d& q, int node) const {
    const Node& n = nodes_[node];
    const double dx = q[0] - n.p[0], dy = q[1] - n.p[1], dz = q[2] - n.p[2];
    return dx * dx + dy * dy + dz * dz;
  }

 private:
  struct Node {
    double p[3];              // a copy of the point, so a search touches the node array only
    std::uint32_t indexAxis;  // index * 4 + split axis
    std::uint32_t right;      // how far on the right child is; 0 where the search takes the node for a leaf
  };

  void buildNode(int node, int* begin, int* end, const Eigen::Vector3d* points);

  std::vector<Node> nodes_;
  std::vector<int> order_;  // the index permutation the build partitions
  int onlyChild_ = -1;      // the child of the one node with a single child (an even count), or -1
  int count_ = 0;
};

template <class Visit>
void PointKdTree::radiusSearch(const Eigen::Vector3d& q, double radius, Visit&& visit) const {
  if (count_ == 0) return;
  const double r2 = radius * radius;
  const auto test = [&](int k) {
    const double d2 = squaredDistance(q, k);
    if (d2 < r2) visit(k, d2);
  };
  // The stack holds one pending sibling per level plus the current node: at most 32 for 2^30 points.
  int stack[64];
  int top = 0;
  stack[0] = 0;
  while (top >= 0) {
    const int k = stack[top];
    const Node& node = nodes_[k];
    if (node.right != 0) {
      const int axis = static_cast<int>(node.indexAxis & 3u);
      const double d = q[axis] - node.p[axis];
      const int left = k + 1, right = k + static_cast<int>(node.right);
      stack[top] = d > 0 ? right : left;
      if (d * d < r2) stack[++top] = d > 0 ? left : right;
    } else {
      --top;
    }
    test(k);
  }
  // With an even count one node has a single child, which the loop does not visit.
  if (onlyChild_ >= 0) test(onlyChild_);
}
