// The planar index of a fitted trajectory: planar samples of its curve and a two-dimensional KD-tree
// over their (x, y). Built and kept by fitting; no trajectory operation searches it.
#pragma once

#include <cstddef>
#include <memory>
#include <nanoflann.hpp>
#include <vector>

#include "tools/mlTrajectory.h"

class mlTrajectoryIndex {
 public:
  using SplineType = mlTrajectory<double, 3>::SplineType;

  // The dataset view nanoflann reads: the samples' x for dimension 0 and y for dimension 1.
  struct Adaptor {
    const std::vector<mlPlanarSample>* samples;

    std::size_t kdtree_get_point_count() const { return samples->size(); }
    float kdtree_get_pt(std::size_t idx, std::size_t dim) const {
      return dim == 0 ? (*samples)[idx].x : (*samples)[idx].y;
    }
    template <class BBox>
    bool kdtree_get_bbox(BBox&) const {
      return false;  // let the tree compute its own bounding box
    }
  };
  using Tree = nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<float, Adaptor>, Adaptor, 2>;

  static constexpr std::size_t kLeafSize = 10;

  mlTrajectoryIndex(std::shared_ptr<const SplineType> spline, float step, std::vector<mlPlanarSample> samples);

  // The tree refers to the samples held here, so the index stays where it was built.
  mlTrajectoryIndex(const mlTrajectoryIndex&) = delete;
  mlTrajectoryIndex& operator=(const mlTrajectoryIndex&) = delete;

  std::shared_ptr<const SplineType> spline;
  float step;
  std::vector<mlPlanarSample> samples;
  Adaptor adaptor;
  Tree tree;
};
