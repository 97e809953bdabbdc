// The immersed-boundary stage of a lattice step: for every body's point set, interpolation of the fluid
// velocity at the points, then spreading of the resulting forces into the lattice.
#pragma once

class mlSinglePhaseSolverNew;

struct mlImmersedSolver {
  // Runs the stage for lattice i against every point set of solver.ibBoundaries, in list order.
  static void step(mlSinglePhaseSolverNew& solver, int i);
};
