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

  // Reduces Q[0 .. m) to t points. Writes the kept points to out in heap order and, with
  // copyEliminated, the eliminated ones behind them, the last eliminated first.
  void pass(const Eigen::Vector3d* Q, int m, int t, double d_max, double d_min, Eigen::Vector3d* out,
            bool copyEliminated) {
    d_max_ = d_max;
    d_min_ = d_min;
    tree_.build(Q, m);

    std::fill(w_.begin(), w_.begin() + m, 0.0);
    for (int i = 0; i < m; ++i)
      tree_.radiusSearch(Q[i], d_max, [&](int j, double d2) {
        if (j != i) w_[i] += weight(d2);
      });

    for (int k = 1; k <= m; ++k) {
      heap_[k] = k - 1;
      pos_[k - 1] = k;
    }
    size_ = m;
    for (int p = m / 2; p >= 1; --p) siftDown(p);

    while (size_ > t) {
      const int i = heap_[1];
      swapEntries(1, size_);
      --size_;
      siftDown(1);
      tree_.radiusSearch(Q[i], d_max, [&](int j, double d2) {
        if (j == i) return;
        w_[j] -= weight(d2);
        siftDown(pos_[j]);
      });
    }

    const int s = copyEliminated ? m : t;
    for (int k = 0; k < s; ++k) out[k] = Q[heap_[k + 1]];
  }

 private:
  double weight(double d2) const {
    double d = std::sqrt(d2);
    if (weightLimiting_) d = std::max(d, d_min_);
    return std::pow(1.0 - d / d_max_, alpha_);
  }

  void swapEntries(int a, int b) {
    std::swap(heap_[a], heap_[b]);
    pos_[heap_[a]] = a;
    pos_[heap_[b]] = b;
  }

  // Ties never move an entry; between equal children the left one is taken.
  void siftDown(int k) {
    while (2 * k <= size_) {
      int c = 2 * k;
      if (c + 1 <= size_ && w_[heap_[c + 1]] > w_[heap_[c]]) ++c;
      if (!(w_[heap_[c]] > w_[heap_[k]])) return;
      swapEntries(k, c);
      k = c;
    }
  }

  double alpha_;
  bool weightLimiting_;
  double d_max_ = 0, d_min_ = 0;
  PointKdTree tree_;
  std::vector<double> w_;  // weight of every point of the pass
  std::vector<int> heap_;  // [1 .. size_] point indices, largest weight first
  std::vector<int> pos_;   // where each point sits in heap_
  int size_ = 0;
};

}  // namespace

void weightedSampleElimination(const Eigen::Vector3d* input, int n_in, Eigen::Vector3d* output, int n_out,
                               bool progressive, double d_max, const EliminationSettings& settings) {
  if (n_out <= 0 || n_out > n_in || n_in > PointKdTree::kMaxPoints)
    throw std::invalid_argument("weightedSampleElimination: cannot keep " + std::to_string(n_out) + " of " +
                                std::to_string(n_in) + " points (needs 0 < n_out <= n_in <= 2^30)");
  if (std::isinf(d_max)) throw std::invalid_argument("weightedSampleElimination: d_max is infinite");

  if (!(d_max > 0)) d_max = 2.0 * std::sqrt(1.0 / n_out / 3.4641016151377544);
  const double d_min = settings.weightLimiting
                           ? d_max * settings.beta * (1.0 - std::pow(static_cast<double>(n_out) / n_in, settings.gamma))
                           : 0.0;

  Eliminator eliminator(n_in, settings.alpha, settings.weightLimiting);
  eliminator.pass(input, n_in, n_out, d_max, d_min, output, false);
  if (!progressive) return;

  std::vector<Eigen::Vector3d> second(n_out);
  Eigen::Vector3d* latest = output;
  Eigen::Vector3d* other = second.data();
  int n = n_out;
  while (n >= 3) {
    const int half = n / 2;
    d_max *= 1.4142135381698608;  // sqrt 2 in single precision
    eliminator.pass(latest, n, half, d_max, d_min, other, true);
    if (other != output) std::copy(other + half, other + n, output + half);
    std::swap(latest, other);
    n = half;
  }
  if (latest != output) std::copy(latest, latest + n, output);
}
