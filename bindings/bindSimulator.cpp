#include "bindSimulator.h"

#include <pybind11/eigen.h>

#include <memory>
#include <string>

#include "SkeletonDynamics/requireFinite.h"
#include "SkeletonDynamics/skSystem.h"
#include "SkeletonDynamics/skWorld.h"
#include "duriz/mlsolver/requireNoNul.h"
#include "simulatorInterface/coupledLBM_sim3D.h"

namespace py = pybind11;

namespace {

using FolderField = std::string coupledLBM_sim3D::*;

auto folderGetter(FolderField field) {
  return [field](const coupledLBM_sim3D& s) { return s.*field; };
}

// A folder name holding a NUL character is refused when it is set, not first at the next save.
auto folderSetter(FolderField field, const char* name) {
  return [field, name](coupledLBM_sim3D& s, const std::string& value) { s.*field = requireNoNul(value, name); };
}

}  // namespace

void bindSimulatorFactory(py::module_& m) {
  m.def("make_simulator", [](std::shared_ptr<simParams> param, int gpuId) {
    return std::make_shared<coupledLBM_sim3D>(std::move(param), gpuId);
  });
}

void bindWorldFactory(py::module_& m) {
  m.def("make_skWorld", [](const Eigen::Vector3d& gravity) { return std::make_shared<skWorld>(gravity); });
}

void bindCoupleMode(py::module_& m) {
  py::enum_<couplingMode>(m, "COUPLE_MODE", py::arithmetic())
      .value("NO_FLUID", NO_FLUID)
      .value("ONE_WAY", ONE_WAY)
      .value("TWO_WAY", TWO_WAY)
      .value("EMPIRICAL", EMPIRICAL);
}

void bindSaveFlag(py::module_& m) {
  py::enum_<SCENE_SAVE_FLAG>(m, "SAVE_FLAG", py::arithmetic()).value("BODY", BODY).value("FLUID", FLUID);
}

void bindWorld(py::module_& m) {
  py::class_<skWorld, std::shared_ptr<skWorld>>(m, "DartWorld")
      .def(py::init<const Eigen::Vector3d&>(), py::arg("Gravity") = Eigen::Vector3d::Zero())
      .def("addSkeleton", &skWorld::addSkeleton, py::arg("SkeletonDynamics"))
      .def("getSkeleton", &skWorld::getSkeleton, py::arg("index"))
      // Taken as a double, so that one a float cannot hold is refused as the script gave it.
      .def("setTimestep",
           [](skWorld& world, double dt) { world.setTimestep(requireFloat(dt, "setTimestep: the time step")); })
      .def("getTimestep", &skWorld::getTimestep)
      .def("setGravity", &skWorld::setGravity)
      .def("reset", &skWorld::reset)
      .def_readonly("time", &skWorld::time);
}

void bindSimulator(py::module_& m) {
  using sim = coupledLBM_sim3D;
  py::class_<sim, std::shared_ptr<sim>>(m, "simulator3D")
      .def(py::init<std::shared_ptr<simParams>, int>(), py::arg("param"), py::arg("gpuId"))
      .def("attachWorld", &sim::attachWorld, py::arg("world"))
      .def_property("mainDataFolderPath", folderGetter(&sim::mainDataFolderPath),
                    folderSetter(&sim::mainDataFolderPath, "mainDataFolderPath"))
      .def_property("fluidFolderName", folderGetter(&sim::fluidFolderName),
                    folderSetter(&sim::fluidFolderName, "fluidFolderName"))
      .def_property("objectsFolderName", folderGetter(&sim::objectsFolderName),
                    folderSetter(&sim::objectsFolderName, "objectsFolderName"))
      .def("log", &sim::log)
      .def("commitInit", &sim::commitInit)
      .def("step", &sim::step, py::arg("couple_mode"))
      .def("saveScene", &sim::saveScene, py::arg("frame"), py::arg("save_flags"))
      .def("saveObjectsData", &sim::saveObjectsData, py::arg("object_name"))
      .def("saveFluidData", &sim::saveFluidData, py::arg("fluid_name"))
      .def("set_force", &sim::set_force, py::arg("x"), py::arg("y"), py::arg("z"), py::arg("fx"), py::arg("fy"),
           py::arg("fz"), py::arg("scale") = 0)
      .def("set_force_all", &sim::set_force_all, py::arg("positions"), py::arg("forces"), py::arg("scale") = 0)
      .def("set_velocity_all", &sim::set_velocity_all, py::arg("positions"), py::arg("velocities"),
           py::arg("scale") = 0)
      .def("set_velocity", &sim::set_velocity, py::arg("x"), py::arg("y"), py::arg("z"), py::arg("ux"), py::arg("uy"),
           py::arg("uz"), py::arg("scale") = 0)
      .def("getIterNum", &sim::getIterNum)
      .def("getIterPerSave", &sim::getIterPerSave, py::arg("frame_rate"))
      .def("dismissinlet", &sim::dismissinlet, py::arg("scale") = 0)
      .def("reset", &sim::reset);
}
