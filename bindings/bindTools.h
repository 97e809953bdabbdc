// Bindings of the scripting tools, called by the module body at their places in the registration order.
#pragma once

#include <pybind11/pybind11.h>

// make_trajectory, make_tpPoint, make_controller.
void bindToolFactories(pybind11::module_& m);
// trajectoryPoint3d, trajectoryPosePoint3d, trajectory3d, poseTrajectory, debugLine, VTKWriter.
void bindTrajectoryClasses(pybind11::module_& m);
// PDControl1D.
void bindControllerClass(pybind11::module_& m);
