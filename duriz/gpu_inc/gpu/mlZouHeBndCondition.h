// Zou-He velocity boundaries on the streamed populations (f): the plane x = 0 is an inlet of velocity
// (0.2, 0, 0), the planes x = nx - 1, z = 0 and z = nz - 1 are walls at rest; on each plane only the nodes
// whose two in-plane coordinates lie in [10, n - 10] are set (density, velocity and all 27 populations).
#pragma once

#include "duriz/mlsolver/mlFlow.h"

void mlZouHeBndConditionGpu(mlFlow* flow, const MLFluidParam& param);
