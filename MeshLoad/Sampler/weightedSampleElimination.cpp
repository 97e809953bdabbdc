#include "weightedSampleElimination.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "PointKdTree.h"
#include "device/FirstException.h"

namespace {

// One elimination pass at a time; the buffers are sized once for the largest pass and reused. The heap
// and the neighbour lists name points by their tree nodes, so that the neighbours of a point have their
// data close together in memory.
class Eliminator {
 public:
  Eliminator(int capacity, double alpha, bool weightLimiting)
      : alpha_(alpha),
        weightLimiting_(weightLimiting),
        heap_(capacity + 1),
        pos_(capacity),
        listEnd_(capacity),
        lists_((capacity + kRun - 1) / kRun),
        listed_(lists_.size()) {}

  // Reduces Q[0 .. m) to t points. Writes the indices of the kept points to out in heap order and,
  // with copyEliminated, those of the eliminated ones behind them, the last eliminated first.
  void pass(const Eigen::Vector3d* Q, int m, int t, double d_max, double d_min, int* out, bool copyEliminated) {
    d_max_ = d_max;
    d_min_ = d_min;
    atMin_ = std::pow(1.0 - d_min / d_max, alpha_);
    tree_.build(Q, m);
    weighAll(m);
    size_ = m;
    for (int p = m / 2; p >= 1; --p) siftDown(p);
    while (size_ > t) eliminateTop();
    const int s = copyEliminated ? m : t;
    for (int k = 0; k < s; ++k) out[k] = tree_.pointOf(heap_[k + 1].node);
  }

 private:
  // A heap entry carries its point's weight, so a sift reads one array.
  struct Entry {
    double w;
    int node;
  };

  // One search per point, on all threads: the point's weight, summed in the order of its search, and its
  // neighbours in that order, which its elimination then walks again without searching. A run whose
  // points have more than kListed neighbours each on average (many layers of surface within d_max) keeps
  // no lists: its points search again. The heap starts with the points in input order.
  // The lists are allocated on the threads: memory that cannot be had is thrown after the region.
  void weighAll(int m) {
    const int runs = (m + kRun - 1) / kRun;
    dz::device::FirstException failure;
#pragma omp parallel if (runs > 1)
    {
      std::vector<int> found;  // a run's lists, then copied to one block of their size
#pragma omp for schedule(dynamic, 1)
      for (int r = 0; r < runs; ++r) {
        if (failure.failed()) continue;
        failure.run([&] { weighRun(r, m, found); });
      }
    }
    failure.rethrow();
  }

  void weighRun(int r, int m, std::vector<int>& found) {
    found.clear();
    for (int node = r * kRun; node < std::min(m, (r + 1) * kRun); ++node) {
      double w = 0;
      tree_.radiusSearch(tree_.position(node), d_max_, [&](int j, double d2) {
        if (j == node) return;
        w += weight(d2);
        found.push_back(j);
      });
      listEnd_[node] = static_cast<std::uint32_t>(found.size());
      const int k = tree_.pointOf(node) + 1;
      heap_[k] = Entry{w, node};
      pos_[node] = k;
    }
    listed_[r] = found.size() <= static_cast<std::size_t>(kListed) * kRun;
    if (listed_[r])
      lists_[r].assign(found.begin(), found.end());
    else
      lists_[r].clear();
  }

  void eliminateTop() {
    const int i = heap_[1].node;
    swapEntries(1, size_);
    --size_;
    siftDown(1);
    const Eigen::Vector3d q = tree_.position(i);
    const auto lighten = [&](int j, double d2) {
      const int k = pos_[j];
      if (k > size_) return;  // eliminated (as i is): its weight is never read again
      heap_[k].w -= weight(d2);
      siftDown(k);
    };
    if (!listed_[i / kRun]) {
      tree_.radiusSearch(q, d_max_, lighten);
      return;
    }
    const int* list = lists_[i / kRun].data();
    const int* first = list + (i % kRun == 0 ? 0 : listEnd_[i - 1]);
    const int* last = list + listEnd_[i];
    // The neighbours' heap entries lie anywhere: all are asked for before the first is needed.
    for (const int* j = first; j != last; ++j) {
      const int k = pos_[*j];
      tree_.prefetch(*j);
      __builtin_prefetch(&heap_[k]);
      __builtin_prefetch(&heap_[std::min(2 * k, size_)]);
    }
    for (const int* j = first; j != last; ++j) lighten(*j, tree_.squaredDistance(q, *j));
  }

  // Neighbours within d_min, about two in five, all weigh atMin_.
  double weight(double d2) const {
    const double d = std::sqrt(d2);
    if (weightLimiting_ && d <= d_min_) return atMin_;
    return std::pow(1.0 - d / d_max_, alpha_);
  }

  void swapEntries(int a, int b) {
    std::swap(heap_[a], heap_[b]);
    pos_[heap_[a].node] = a;
    pos_[heap_[b].node] = b;
  }

  // Ties never move an entry; between equal children the left one is taken. The entries two and three
  // levels down are asked for early: an eliminated point's replacement sinks all the way.
  void siftDown(int k) {
    while (2 * k <= size_) {
      if (8 * k + 7 <= size_) {
        __builtin_prefetch(&heap_[4 * k]);
        __builtin_prefetch(&heap_[8 * k]);
        __builtin_prefetch(&heap_[8 * k + 4]);
      }
      int c = 2 * k;
      if (c + 1 <= size_ && heap_[c + 1].w > heap_[c].w) ++c;
      if (!(heap_[c].w > heap_[k].w)) return;
      swapEntries(k, c);
      k = c;
    }
  }

  static constexpr int kRun = 1 << 14;  // nodes whose neighbour lists share one block
  static constexpr int kListed = 64;    // neighbours per node of a run beyond which it keeps no lists

  double alpha_;
  bool weightLimiting_;
  double d_max_ = 0, d_min_ = 0, atMin_ = 0;  // atMin_: the weight at d_min
  PointKdTree tree_;
  std::vector<Entry> heap_;  // [1 .. size_] largest weight first, then the eliminated points
  std::vector<int> pos_;     // where each node's point sits in heap_
  // The neighbours of node i end at listEnd_[i] in the block of its run and begin where node i - 1's
  // end, or at 0 for the first node of a run.
  std::vector<std::uint32_t> listEnd_;
  std::vector<std::vector<int>> lists_;
  std::vector<char> listed_;  // whether a run keeps its lists
  int size_ = 0;
};

}  // namespace

void weightedSampleElimination(const Eigen::Vector3d* input, int n_in, int* kept, int n_out, bool progressive,
                               double d_max, const EliminationSettings& settings) {
  if (n_out <= 0 || n_out > n_in || n_in > PointKdTree::kMaxPoints)
    throw std::invalid_argument("weightedSampleElimination: cannot keep " + std::to_string(n_out) + " of " +
                                std::to_string(n_in) + " points (needs 0 < n_out <= n_in <= 2^30)");
  // Every point would be a neighbour of every other; -inf, not being positive, falls back below.
  if (d_max == HUGE_VAL) throw std::invalid_argument("weightedSampleElimination: d_max is infinite");

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
