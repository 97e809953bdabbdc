#include "bindSkeletonDynamics.h"

#include <pybind11/eigen.h>
#include <pybind11/stl.h>

#include <memory>

#include "Markers/Markers.h"
#include "SkeletonDynamics/skJointMgr.h"
#include "SkeletonDynamics/skLinkMgr.h"
#include "SkeletonDynamics/skSystem.h"
#include "skeleton/SkeletonSystem.h"

namespace py = pybind11;
using Eigen::Vector3d;

void bindSkeletonDynamicsFactory(py::module_& m) {
  m.def("make_skDynamics", [](std::shared_ptr<SkeletonSystem> skeleton, int sampleNum, int gpuId,
                              const Vector3d& translation, const Vector3d& rotation, const Vector3d& scaling) {
    return std::make_shared<skSystem>(std::move(skeleton), sampleNum, gpuId, translation, rotation, scaling);
  });
}

void bindSkeletonDynamics(py::module_& m) {
  py::class_<skSystem, std::shared_ptr<skSystem>>(m, "SkeletonDynamics")
      .def(py::init<std::shared_ptr<SkeletonSystem>, int, int, Vector3d, Vector3d, Vector3d>(), py::arg("Skeleton"),
           py::arg("sampleNum") = 5000, py::arg("gpuId") = 0, py::arg("translation") = Vector3d(0, 0, 0),
           py::arg("rotation") = Vector3d(1, 1, 1), py::arg("scaling") = Vector3d(1, 1, 1))
      .def("setHead", &skSystem::setHead, py::arg("position"), py::arg("target_orientation"))
      .def("sample", &skSystem::sample, py::arg("sampleNum") = 5000)
      .def("getBaseLinkFwd", &skSystem::getBaseLinkFwd)
      .def("getBaseLinkRight", &skSystem::getBaseLinkRight)
      .def("getBaseLinkUp", &skSystem::getBaseLinkUp)
      .def("getBaseLink", &skSystem::getBaseLink)
      .def_readonly("baseLinkName", &skSystem::baseLinkName)
      .def_readonly("beCollided", &skSystem::beCollided)
      .def("getLink", &skSystem::getLink, py::arg("name"))
      .def("getJoint", &skSystem::getJoint, py::arg("name"))
      // New lists of the managers' shared links and joints: an element outlives the list and the body.
      .def("getJoints", [](const skSystem& s) { return s.jointMgr->joints; })
      .def("getLinks", [](const skSystem& s) { return s.linkMgr->links; })
      .def("update", &skSystem::update)
      .def("getNumDofs", &skSystem::getNumDofs)
      .def("getVelocities", &skSystem::getVelocities, py::arg("includeBase") = true)
      .def("getPositions", &skSystem::getPositions, py::arg("includeBase") = true)
      .def("getAccelerations", &skSystem::getAccelerations, py::arg("includeBase") = true)
      .def("getCOM", &skSystem::getCOM)
      .def("getMass", &skSystem::getMass)
      .def("getCOMLinearVelocity", &skSystem::getCOMLinearVelocity)
      .def("getCOMAngularVelocity", &skSystem::getCOMAngularVelocity)
      .def("getCOMLinearAcceleration", &skSystem::getCOMLinearAcceleration)
      .def("getForceUpperLimits", &skSystem::getForceUpperLimits)
      .def("getForceLowerLimits", &skSystem::getForceLowerLimits)
      .def("getCommands", &skSystem::getCommands)
      .def("setCommands", &skSystem::setCommands)
      .def("getMarkers", &skSystem::getMarkers)
      .def("setRefFrame", &skSystem::setRefFrame)
      .def_property(
          "empirical_force_amplifier", [](const skSystem& s) { return s.empirical_force_amplifier; },
          &skSystem::setEmpiricalForceAmplifier)
      .def("getRenderData", &skSystem::getRenderData);
}
