// Python entries of the articulated dynamics: the joint, link and frame wrappers.
#pragma once

#include <pybind11/pybind11.h>

// Classes skJoint and skLink, in this order (no constructors: scripts receive them from a body).
void bindJointAndLink(pybind11::module_& m);
// Class skFrame: an opaque handle from skLink.getFrame for SkeletonDynamics.setRefFrame.
void bindFrame(pybind11::module_& m);
