// Legacy VTK output of one lattice: binary big-endian STRUCTURED_POINTS with the velocity (lattice units,
// the reference frame's motion added) and the density (three times) of every node.
#pragma once

#include <string>

#include "mlFlow.h"
#include "simParams.h"

namespace dart::dynamics {
class Frame;
}
class CompleteFileSet;

// Returns 1 when the file was written; 0 (with one line on standard error naming the path and the
// system's reason) when it could not be opened or written. A null frame stands for a frame at rest at the origin.
// Throws std::logic_error for a lattice released by deleteHostFlow, and std::invalid_argument naming the node
// for a velocity or density (or an origin) that is not finite, writing nothing: no reader could load it.
int writeFluidVTK(const mlFlow& flow, const mlLatticeUnits& units, const std::string& path,
                  const dart::dynamics::Frame* frame);
// The same file added to `files`, to land with the set's other files; false when it cannot be written
// (files.failure() says why, nothing is printed).
bool writeFluidVTK(const mlFlow& flow, const mlLatticeUnits& units, const std::string& path,
                   const dart::dynamics::Frame* frame, CompleteFileSet& files);
