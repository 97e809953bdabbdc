// Whole-array copies that keep a host lattice and its device twin in step.
#pragma once

class mlSinglePhaseSolverNew;

struct FluidHelper {
  // Uploads what host edits change: velocities, forces, flags and distributions (not density, rates,
  // parameters or the record's scalars).
  static void upload(mlSinglePhaseSolverNew& solver, int i);
  // Downloads velocities, forces, density, flags and distributions, and the device lattice origin.
  static void download(mlSinglePhaseSolverNew& solver, int i);
};
