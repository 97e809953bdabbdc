// Python entries of the multi-body world and the coupled simulator, called by the module body at their
// places in the registration order.
#pragma once

#include <pybind11/pybind11.h>

// make_simulator.
void bindSimulatorFactory(pybind11::module_& m);
// make_skWorld.
void bindWorldFactory(pybind11::module_& m);
// Enum COUPLE_MODE.
void bindCoupleMode(pybind11::module_& m);
// Enum SAVE_FLAG.
void bindSaveFlag(pybind11::module_& m);
// Class DartWorld.
void bindWorld(pybind11::module_& m);
// Class simulator3D.
void bindSimulator(pybind11::module_& m);
