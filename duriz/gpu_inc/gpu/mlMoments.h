// Macroscopic moments: density and first moment of every node, and the node forces cleared for the
// next spreading.
#pragma once

#include "duriz/mlsolver/mlFlow.h"

void mlCalOneOrderMomentOptGpu(mlFlow* flow, const MLFluidParam& param);
