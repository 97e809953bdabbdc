// Wall boundaries on the post-collision populations (fPost), to run between collision and streaming:
// bounce-back from fluid nodes into wall and solid nodes, then a regularised rebuild of every solid node
// (flag NODE_SOLID) and of the nodes of each box face plane that carry that face's flag (NODE_LEFT at
// x = 0 ... NODE_UP at y = ny - 1). A face node stores the density of its known populations in rou; a
// solid node keeps its own. A wall node's stored velocity (ux, uy, uz) is the wall's velocity there, which
// the caller keeps (the moment kernel overwrites it with the node's first moment). The walls give back to
// the fluid the mass that reaches them, plus what their motion pushes.
#pragma once

#include "duriz/mlsolver/mlFlow.h"

void mlBndConditionGpu(mlFlow* flow, const MLFluidParam& param);
