#include "tools/mlTrajectoryIndex.h"

#include <utility>

mlTrajectoryIndex::mlTrajectoryIndex(std::shared_ptr<const SplineType> spline, float step,
                                     std::vector<mlPlanarSample> samples)
    : spline(std::move(spline)),
      step(step),
      samples(std::move(samples)),
      adaptor{&this->samples},
      tree(2, adaptor, nanoflann::KDTreeSingleIndexAdaptorParams(kLeafSize)) {}
