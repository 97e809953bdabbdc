// Velocity-set tables in constant memory, one copy per kernel file that includes this header.
// Direction order and weights are those of mlsolver/d3q27.h.
#pragma once

#include "device/device.h"

static __constant__ const float ex_cas1[27] = {0,  1, -1, 0, 0, 0, 0,  1, -1, 1, -1, 1, -1, 1,
                                               -1, 0, 0,  0, 0, 1, -1, 1, -1, 1, -1, 1, -1};
static __constant__ const float ey_cas1[27] = {0, 0, 0,  1, -1, 0, 0, 1,  1,  -1, -1, 0,  0, 0,
                                               0, 1, -1, 1, -1, 1, 1, -1, -1, 1,  1,  -1, -1};
static __constant__ const float ez_cas1[27] = {0,  0, 0, 0,  0,  1, -1, 0, 0, 0,  0,  1,  1, -1,
                                               -1, 1, 1, -1, -1, 1, 1,  1, 1, -1, -1, -1, -1};
static __constant__ const int index_inv_cas1[27] = {0,  2,  1,  4,  3,  6,  5,  10, 9,  8,  7,  14, 13, 12,
                                                    11, 18, 17, 16, 15, 26, 25, 24, 23, 22, 21, 20, 19};
static __constant__ const float w_cas1[27] = {
    0.2962963f,    0.074074075f,  0.074074075f,  0.074074075f,  0.074074075f,  0.074074075f,  0.074074075f,
    0.018518519f,  0.018518519f,  0.018518519f,  0.018518519f,  0.018518519f,  0.018518519f,  0.018518519f,
    0.018518519f,  0.018518519f,  0.018518519f,  0.018518519f,  0.018518519f,  0.0046296297f, 0.0046296297f,
    0.0046296297f, 0.0046296297f, 0.0046296297f, 0.0046296297f, 0.0046296297f, 0.0046296297f};
