#include "bindDynamics.h"

#include <pybind11/eigen.h>

#include <memory>

#include "SkeletonDynamics/skJoint.h"
#include "SkeletonDynamics/skLink.h"

namespace py = pybind11;

void bindJointAndLink(py::module_& m) {
  py::class_<skJoint, std::shared_ptr<skJoint>>(m, "skJoint")
      .def("getJointType", &skJoint::getJointType)
      .def("getName", &skJoint::getName)
      .def("getNumDofs", &skJoint::getNumDofs)
      .def("setCommand", &skJoint::setCommand)
      .def("setForce", &skJoint::setForce)
      .def("setPositions", &skJoint::setPositions)
      .def("setPosition", &skJoint::setPosition)
      .def("getPositions", &skJoint::getPositions)
      .def("getVelocities", &skJoint::getVelocities)
      .def("setVelocity", &skJoint::setVelocity)
      .def("getAccelerations", &skJoint::getAccelerations)
      .def("setAcceleration", &skJoint::setAcceleration)
      .def("getPositionLowerLimits", &skJoint::getPositionLowerLimits)
      .def("getPositionUpperLimits", &skJoint::getPositionUpperLimits)
      .def("getForceLowerLimits", &skJoint::getForceLowerLimits)
      .def("getForceUpperLimits", &skJoint::getForceUpperLimits)
      .def("getVelocityLowerLimits", &skJoint::getVelocityLowerLimits)
      .def("getVelocityUpperLimits", &skJoint::getVelocityUpperLimits);

  py::class_<skLink, std::shared_ptr<skLink>>(m, "skLink")
      .def("getMass", &skLink::getMass)
      .def("getName", &skLink::getName)
      .def("getAngularVelocity", &skLink::getAngularVelocity)
      .def("getLinearVelocity", &skLink::getLinearVelocity)
      .def("getAngularAcceleration", &skLink::getAngularAcceleration)
      .def("getLinearAcceleration", &skLink::getLinearAcceleration)
      .def("getPosition", &skLink::getPosition)
      .def("getRotation", &skLink::getRotation)
      .def("getFrame", [](const skLink& link) { return link.frame; })
      .def("applyForce", &skLink::applyForce, "apply force to link");
}

void bindFrame(py::module_& m) { py::class_<skFrame, std::shared_ptr<skFrame>>(m, "skFrame"); }
