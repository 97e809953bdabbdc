// Python entries of the skeleton models: the joint and actuator kinds and the hierarchy node.
#pragma once

#include <pybind11/pybind11.h>

// Enums actuatorType and jointType, in this order.
void bindSkeletonEnums(pybind11::module_& m);
// Class hierachyNode (no constructor: scripts receive nodes from joints).
void bindHierachyNode(pybind11::module_& m);
