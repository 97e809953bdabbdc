// Python entries of the skeleton models: the joint and actuator kinds, the hierarchy node, the joint and
// link descriptions and the markers.
#pragma once

#include <pybind11/pybind11.h>

// Enums actuatorType and jointType, in this order.
void bindSkeletonEnums(pybind11::module_& m);
// Class hierachyNode (no constructor: scripts receive nodes from joints).
void bindHierachyNode(pybind11::module_& m);
// Classes Limit, Dynamics, SkeletonJoint and SkeletonLink, in this order (no constructors: scripts
// receive them from a skeleton system).
void bindSkeletonDescriptions(pybind11::module_& m);
// Class Markers (no constructor).
void bindMarkers(pybind11::module_& m);
