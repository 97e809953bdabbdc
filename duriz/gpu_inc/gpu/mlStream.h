// Streaming: pulls the post-collision populations of the neighbours into f.
#pragma once

#include "duriz/mlsolver/mlFlow.h"

void mlCuStream3dOptGpu(mlFlow* flow, const MLFluidParam& param);
