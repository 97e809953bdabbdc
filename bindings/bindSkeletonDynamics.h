// Python entries of the articulated bodies: the factory make_skDynamics and the class SkeletonDynamics.
#pragma once

#include <pybind11/pybind11.h>

// make_skDynamics(skeleton, sampleNum, gpuId, translation, rotation, scaling), positional, no defaults.
void bindSkeletonDynamicsFactory(pybind11::module_& m);
// Class SkeletonDynamics; skLink, skJoint, Markers and RenderData are bound before it.
void bindSkeletonDynamics(pybind11::module_& m);
