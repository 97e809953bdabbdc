// Wall boundaries on the post-collision populations (fPost), to run between collision and streaming:
// bounce-back from fluid nodes into wall and solid nodes, then a regularised rebuild of every solid node
// (flag NODE_SOLID) and of the nodes of each box face plane that carry that face's flag (NODE_LEFT at
// x = 0 ... NODE_UP at y = ny - 1). A node's stored velocity (ux, uy, uz) is the wall velocity there.
#pragma once

#include "duriz/mlsolver/mlFlow.h"

void mlBndConditionGpu(mlFlow* flow, const MLFluidParam& param);
