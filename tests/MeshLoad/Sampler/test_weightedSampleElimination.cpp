// Weighted sample elimination: the kd-tree's radius search, the weights, the heap order and the
// progressive reordering.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "MeshLoad/Sampler/PointKdTree.h"
#include "MeshLoad/Sampler/weightedSampleElimination.h"
#include "device/device.h"
#include "testSupport.h"

namespace {

using Eigen::Vector3d;
using Points = std::vector<Vector3d>;

// Random points in [0, 1)^3, or with integer coordinates below `grid` (equal coordinates, and
// neighbours exactly at an integer radius).
Points randomPoints(int n, unsigned seed, int grid = 0) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(0, 1);
  Points p(n);
  for (Vector3d& x : p)
    x = grid ? Vector3d(gen() % grid, gen() % grid, gen() % grid) : Vector3d(u(gen), u(gen), u(gen));
  return p;
}

Points sorted(Points p) {
  std::sort(p.begin(), p.end(), [](const Vector3d& a, const Vector3d& b) {
    return std::lexicographical_compare(a.data(), a.data() + 3, b.data(), b.data() + 3);
  });
  return p;
}

Points eliminate(const Points& in, int n, int n_out, bool progressive, double d_max,
                 const EliminationSettings& settings = {}) {
  std::vector<int> kept(n_out);
  weightedSampleElimination(in.data(), n, kept.data(), n_out, progressive, d_max, settings);
  Points out;
  for (int i : kept) out.push_back(in[i]);
  return out;
}

TEST(PointKdTree, RadiusSearchReportsExactlyTheBruteForceNeighbours) {
  const struct {
    int n, grid;
    double radius;
  } cases[] = {{1, 0, 0.5},    {2, 0, 0.5},  {7, 0, 0.4},  {8, 0, 0.4},  {101, 0, 0.2},
               {256, 0, 0.15}, {27, 3, 1.0}, {64, 4, 1.5}, {100, 5, 2.0}};
  PointKdTree tree;
  for (const auto& c : cases) {
    const Points points = randomPoints(c.n, c.n, c.grid);
    tree.build(points.data(), c.n);
    Points queries = points;
    for (const Vector3d& q : randomPoints(20, 9)) queries.push_back(3 * q);
    for (const Vector3d& q : queries) {
      std::vector<int> found, expected;
      tree.radiusSearch(q, c.radius, [&](int node, double d2) {
        const int j = tree.pointOf(node);
        found.push_back(j);
        EXPECT_DOUBLE_EQ(d2, (points[j] - q).squaredNorm());
      });
      for (int j = 0; j < c.n; ++j)
        if ((points[j] - q).squaredNorm() < c.radius * c.radius) expected.push_back(j);
      std::sort(found.begin(), found.end());
      ASSERT_EQ(found, expected) << c.n << " points, query " << q.transpose();
    }
  }
}

TEST(WeightedSampleElimination, EqualWeightsEliminateInHeapOrder) {
  // Points 10 apart with d_max 1 have no neighbour: every weight is 0 and the heap never moves an entry,
  // so point 0 goes first, then the last, the one before it, ...
  const struct {
    int n_in, n_out;
    bool progressive;
    std::vector<int> expected;
  } cases[] = {
      {5, 2, false, {2, 1}},
      {4, 1, true, {1}},
      {4, 2, true, {2, 1}},
      {8, 5, false, {5, 1, 2, 3, 4}},
      {8, 5, true, {2, 1, 3, 4, 5}},
      {16, 12, true, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
      {6, 6, false, {0, 1, 2, 3, 4, 5}},
      {6, 6, true, {1, 2, 3, 4, 5, 0}},
  };
  for (const auto& c : cases) {
    Points line;
    for (int i = 0; i < c.n_in; ++i) line.emplace_back(10.0 * i, 0, 0);
    std::vector<int> order;
    for (const Vector3d& p : eliminate(line, c.n_in, c.n_out, c.progressive, 1.0)) order.push_back(int(p.x() / 10));
    EXPECT_EQ(order, c.expected) << c.n_in << " -> " << c.n_out << (c.progressive ? " progressive" : "");
  }
  const Points in(4, Vector3d::Zero());
  std::vector<int> kept(8);
  for (int n_out : {5, 0, -1})
    EXPECT_THROW(weightedSampleElimination(in.data(), 4, kept.data(), n_out, true, 1.0), std::invalid_argument);
}

TEST(WeightedSampleElimination, WeightsAreLimitedBelowDminAndZeroBeyondDmax) {
  // Pair A (points 0, 1) and pair B (points 2, 3) far apart; 4 -> 3 with d_max 1 gives
  // d_min = 0.65 (1 - 0.75^1.5) = 0.228. The heavier pair loses a point; between equal weights the
  // heap takes point 0, and with B heavier it takes point 3.
  const struct {
    double dA, dB;
    int eliminated;
  } cases[] = {
      {0.02, 0.01, 0},  // both below d_min: they weigh as at d_min
      {0.5, 0.3, 3},    // the closer pair is the heavier
      {0.5, 0.01, 3},
      {1.5, 2.0, 0},  // beyond d_max: no weight
  };
  for (const auto& c : cases) {
    Points in{{0, 0, 0}, {c.dA, 0, 0}, {10, 0, 0}, {10 + c.dB, 0, 0}};
    const Points out = sorted(eliminate(in, 4, 3, false, 1.0));
    in.erase(in.begin() + c.eliminated);
    EXPECT_EQ(out, sorted(in)) << c.dA << " " << c.dB;
  }
}

TEST(WeightedSampleElimination, ProgressivePrefixesAreEliminationsOfTheNextLongerPrefix) {
  Points in = randomPoints(256, 11);
  for (Vector3d& p : in) p.z() = 0;
  // With weight limiting the progressive order only reorders the kept points.
  EXPECT_EQ(sorted(eliminate(in, 256, 64, true, 0.0)), sorted(eliminate(in, 256, 64, false, 0.0)));

  // Without it d_min plays no part, so each level can be redone alone: d_max not positive means the
  // unit-area spacing of 64 points, then sqrt 2 more per level.
  const EliminationSettings plain{8.0, 0.65, 1.5, false};
  const Points out = eliminate(in, 256, 64, true, -1.0, plain);
  double d_max = 2 * std::sqrt(1.0 / 64 / 3.4641016151377544);
  for (int n = 64; n >= 3; n /= 2) {
    d_max *= 1.4142135381698608;
    const Points prefix(out.begin(), out.begin() + n / 2);
    EXPECT_EQ(sorted(prefix), sorted(eliminate(out, n, n / 2, false, d_max, plain))) << n;
  }
}

// A d_max that is not positive, NaN and -inf among them, is the unit-area spacing; +inf, which would make
// every point a neighbour of every other, is refused.
TEST(WeightedSampleElimination, DmaxNotPositiveFallsBackAndInfiniteIsRefused) {
  const Points in = randomPoints(200, 5);
  const Points fallback = eliminate(in, 200, 20, true, 2 * std::sqrt(1.0 / 20 / 3.4641016151377544));
  for (const double d_max : {0.0, -1.0, -0.0, -HUGE_VAL, std::nan("")})
    EXPECT_EQ(eliminate(in, 200, 20, true, d_max), fallback) << d_max;
  EXPECT_THROW(eliminate(in, 200, 20, true, HUGE_VAL), std::invalid_argument);
}

void throwOnBlock(int bad) {
  if (blockIdx.x == static_cast<unsigned>(bad) && threadIdx.x == 0)
    throw std::runtime_error("block " + std::to_string(bad));
}

[[noreturn]] void exitWhenCaught(const std::function<void()>& run) {
  try {
    run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "caught %s\n", e.what());
    std::exit(0);
  }
  std::exit(1);
}

// What the work of a parallel region throws reaches the thread that started it, whatever the number of
// threads: an exception that leaves the region ends the process. Each case runs in a child process.
TEST(ParallelRegionDeathTest, ExceptionsReachTheCallerInsteadOfEndingTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // 400 000 points on a plane keep about 36 neighbours each within d_max: their lists need some 60 MB,
  // the tree and heap before them less than 30.
  const auto flatPoints = [](int n) {
    Points p = randomPoints(n, 5);
    for (Vector3d& x : p) x.z() = 0;
    return p;
  };
  const struct {
    const char* name;
    std::function<void()> run;
    const char* caught;
  } cases[] = {
      {"a kernel that throws on one block",
       [] {
         dz::device::setHostThreads(4);
         DZ_LAUNCH(throwOnBlock, dim3(64), dim3(32), 37);
       },
       "block 37"},
      {"neighbour lists beyond the address space",
       [&] {
         const Points in = flatPoints(400000);
         std::vector<int> kept(40000);
         testsupport::limitAddressSpace(40 << 20);
         weightedSampleElimination(in.data(), 400000, kept.data(), 40000, false, 0);
       },
       "std::bad_alloc"},
  };
  for (const auto& c : cases)
    EXPECT_EXIT(exitWhenCaught(c.run), ::testing::ExitedWithCode(0), std::string("caught ") + c.caught) << c.name;
}

}  // namespace
