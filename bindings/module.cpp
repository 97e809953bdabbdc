// The Python module: factory functions, then enums, then classes, then the skeleton file functions, each
// group in its fixed order. The entry that PYBIND11_MODULE generates first refuses an interpreter whose
// version is not the one the module was built for (ImportError "Python version mismatch: module was
// compiled for Python X.Y, but the interpreter version is incompatible: <version>.").
#include <pybind11/pybind11.h>

#include <memory>

#include "bindings/bindDynamics.h"
#include "bindings/bindErrors.h"
#include "bindings/bindSimulator.h"
#include "bindings/bindSkeletonDynamics.h"
#include "bindings/bindSkeletonModels.h"
#include "bindings/bindSkeletonSystem.h"
#include "bindings/bindTools.h"
#include "duriz/mlsolver/simParams.h"

namespace py = pybind11;

PYBIND11_MODULE(duzavod, m) {
  m.doc() = "pybind11 example plugin";

  // Factory functions.
  bindSimulatorFactory(m);
  m.def("make_simParams", [] { return std::make_shared<simParams>(); });
  bindSkeletonSystemFactory(m);
  bindSkeletonDynamicsFactory(m);
  bindWorldFactory(m);
  bindToolFactories(m);

  // Enums.
  py::enum_<simParams::SETUP_MODE>(m, "SETUP_MODE", py::arithmetic())
      .value("GRAVITY", simParams::GRAVITY)
      .value("MANUAL", simParams::MANUAL);
  bindCoupleMode(m);
  bindSkeletonEnums(m);
  bindSaveFlag(m);

  // Classes.
  bindRenderData(m);
  py::class_<simParams, std::shared_ptr<simParams>>(m, "simParam")
      .def(py::init<>())
      .def_readwrite("x0", &simParams::x0)
      .def_readwrite("y0", &simParams::y0)
      .def_readwrite("z0", &simParams::z0)
      .def_readwrite("width", &simParams::width)
      .def_readwrite("height", &simParams::height)
      .def_readwrite("depth", &simParams::depth)
      .def_readwrite("N", &simParams::N)
      .def_readwrite("l0p", &simParams::l0p)
      .def_readwrite("u0k", &simParams::u0k)
      .def_readwrite("u0p", &simParams::u0p)
      .def_readwrite("rou0p", &simParams::rou0p)
      .def_readwrite("visp", &simParams::visp)
      .def_readwrite("slip_ratio", &simParams::slip_ratio)
      .def_readwrite("pml_width", &simParams::pml_width)
      .def_readwrite("setup_mode", &simParams::setup_mode)
      // The lattice spacing and MANUAL-mode time step, so a GRAVITY-mode record can be given a spacing.
      .def_readwrite("dx", &simParams::dx)
      .def_readwrite("dtp", &simParams::dtp)
      .def("get_tp", &simParams::get_tp);
  bindHierachyNode(m);
  bindSkeletonDescriptions(m);
  bindSkeletonSystem(m);
  bindJointAndLink(m);
  bindMarkers(m);
  bindSkeletonDynamics(m);
  bindWorld(m);
  bindFrame(m);
  bindTrajectoryClasses(m);
  bindSimulator(m);
  bindControllerClass(m);  // the last class

  // Skeleton file functions.
  bindSkeletonFiles(m);

  bindErrorTranslation();
}
