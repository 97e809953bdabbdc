#include "weightedSampleElimination.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "PointKdTree.h"

namespace {

// One elimination pass at a time; the buffers are sized once for the largest pass and reused.
class Eliminator {
 public:
  Eliminator(int capacity, double alpha, bool weightLimiting)
      : alpha_(alpha), weightLimiting_(weightLimiting), w_(capacity), heap_(capacity + 1), pos_(capacity) {}

  // Reduces Q[0 .. m) to t points. Writes the indices of the kept points to out in heap order and,
  // with copyEliminated, those of the eliminated ones behind them, the last eliminated first.
  void pass(const Eigen::Vector3d* Q, int m, int t, double d_max, double d_min, int* out, bool copyEliminated) {
    d_max_ = d_max;
    d_min_ = d_min;
    tree_.build(Q, m);

    // Each sum runs in the order its own search reports; taking the points in the tree's in-order
    // keeps successive searches on the same branches.
    for (int i : tree_.inOrder()) {
      double w = 0;
      tree_.radiusSearch(Q[i], d_max, [&](int j, double d2) {
        if (j != i) w += weight(d2);
      });
      w_[i] = w;
    }

    for (int k = 1; k <= m; ++k) {
      heap_[k] = Entry{w_[k - 1], k - 1};
      pos_[k - 1] = k;
    }
    size_ = m;
    for (int p = m / 2; p >= 1; --p) siftDown(p);

    while (size_ > t) {
      const int i = heap_[1].point;
      swapEntries(1, size_);
      --size_;
      siftDown(1);
      tree_.radiusSearch(Q[i], d_max, [&](int j, double d2) {
        const int k = pos_[j];
        if (k > size_) return;  // eliminated (as i is): its weight is never read again
        heap_[k].w -= weight(d2);
        siftDown(k);
      });
    }

    const int s = copyEliminated ? m : t;
    for (int k = 0; k < s; ++k) out[k] = heap_[k + 1].point;
  }

 private:
  // A heap entry carries its point's weight, so a sift reads one array.
  struct Entry {
    double w;
    int point;
  };

  double weight(double d2) const {
    double d = std::sqrt(d2);
    if (weightLimiting_) d = std::max(d, d_min_);
    return std::pow(1.0 - d / d_max_, alpha_);
  }

  void swapEntries(int a, int b) {
    std::swap(heap_[a], heap_[b]);
    pos_[heap_[a].point] = a;
    pos_[heap_[b].point] = b;
  }

  // Ties never move an entry; between equal children the left one is taken.
  void siftDown(int k) {
    while (2 * k <= size_) {
      int c = 2 * k;
      if (c + 1 <= size_ && heap_[c + 1].w > heap_[c].w) ++c;
      if (!(heap_[c].w > heap_[k].w)) return;
      swapEntries(k, c);
      k = c;
    }
  }

  double alpha_;
  bool weightLimiting_;
  double d_max_ = 0, d_min_ = 0;
  PointKdTree tree_;
  std::vector<double> w_;    // initial weight of every point of the pass
  std::vector<Entry> heap_;  // [1 .. size_] largest weight first, then the eliminated points
  std::vector<int> pos_;     // where each point sits in heap_
  int size_ = 0;
};

}  // namespace

void weightedSampleElimination(const Eigen::Vector3d* input, int n_in, int* kept, int n_out, bool progressive,
                               double d_max, const EliminationSettings& settings) {
  if (n_out <= 0 || n_out > n_in || n_in > PointKdTree::kMaxPoints)
    throw std::invalid_argument("weightedSampleElimination: cannot keep " + std::to_string(n_out) + " of " +
                                std::to_string(n_in) + " points (needs 0 < n_out <= n_in <= 2^30)");
  if (std::isinf(d_max)) throw std::invalid_argument("weightedSampleElimination: d_max is infinite");

  if (!(d_max > 0)) d_max = 2.0 * std::sqrt(1.0 / n_out / 3.4641016151377544);
  const double d_min = settings.weightLimiting
                           ? d_max * settings.beta * (1.0 - std::pow(static_cast<double>(n_out) / n_in, settings.gamma))
                           : 0.0;

  Eliminator eliminator(n_in, settings.alpha, settings.weightLimiting);
  eliminator.pass(input, n_in, n_out, d_max, d_min, kept, false);
  if (!progressive) return;

  // Each level reorders the first n kept points, kept first: the later levels only reorder a prefix.
  std::vector<Eigen::Vector3d> prefix(n_out);
  std::vector<int> order(n_out), previous(n_out);
  for (int n = n_out; n >= 3; n /= 2) {
    d_max *= 1.4142135381698608;  // sqrt 2 in single precision
    for (int k = 0; k < n; ++k) prefix[k] = input[kept[k]];
    eliminator.pass(prefix.data(), n, n / 2, d_max, d_min, order.data(), true);
    std::copy(kept, kept + n, previous.begin());
    for (int k = 0; k < n; ++k) kept[k] = previous[order[k]];
  }
}
