// Parameters of a test lattice: a GRAVITY-mode box of the given extents (m) and spacing (m).
#pragma once

#include <memory>

#include "duriz/mlsolver/simParams.h"

inline std::shared_ptr<simParams> latticeBox(float width, float height, float depth, float dx) {
  auto p = std::make_shared<simParams>();
  p->width = width;
  p->height = height;
  p->depth = depth;
  p->dx = dx;
  return p;
}
