// Python entries of skeleton systems, called by the module body at their places in the registration order.
#pragma once

#include <pybind11/pybind11.h>

// make_skeletonSystem.
void bindSkeletonSystemFactory(pybind11::module_& m);
// Class RenderData (no constructor: scripts receive it from getRenderData).
void bindRenderData(pybind11::module_& m);
// Class SkeletonSystem.
void bindSkeletonSystem(pybind11::module_& m);
// skeletonFromJson, SkeletonToJson, skeletonFromFBX, in this order.
void bindSkeletonFiles(pybind11::module_& m);
