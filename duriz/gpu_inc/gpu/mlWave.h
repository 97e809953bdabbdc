// A point source of sound: at the given time step the centre node (nx/2, ny/2, nz/2) is set to the
// equilibrium of density 1 + 0.001 sin(2 pi step / 20) at its stored velocity, in f and fPost, for steps up
// to 299; later steps leave the lattice unchanged.
#pragma once

#include "duriz/mlsolver/mlFlow.h"

void mlWaveGpu(mlFlow* flow, const MLFluidParam& param, int step);
