#include "bindSkeletonModels.h"

#include <pybind11/eigen.h>
#include <pybind11/stl.h>

#include <memory>

#include "Markers/Markers.h"
#include "MeshLoad/hierachyNode.h"
#include "skeleton/SkeletonJoint.h"
#include "skeleton/SkeletonLink.h"
#include "skeleton/jointType.h"

namespace py = pybind11;

void bindSkeletonEnums(py::module_& m) {
  // Value 5 (velocity) has no member, though the native enum has it.
  py::enum_<actuatorType>(m, "actuatorType", py::arithmetic())
      .value("force", actuatorType::force)
      .value("passive", actuatorType::passive)
      .value("servo", actuatorType::servo)
      .value("mimic", actuatorType::mimic)
      .value("acceleration", actuatorType::acceleration)
      .value("locked", actuatorType::locked);

  // Value 0 (invalid) has no member.
  py::enum_<jointType>(m, "jointType", py::arithmetic())
      .value("revolute", jointType::revolute)
      .value("continuous", jointType::continuous)
      .value("prismatic", jointType::prismatic)
      .value("fixed", jointType::fixed)
      .value("floating", jointType::floating)
      .value("planar", jointType::planar)
      .value("ball", jointType::ball)
      .value("universal", jointType::universal);
}

void bindHierachyNode(py::module_& m) {
  py::class_<hierachyNode, std::shared_ptr<hierachyNode>>(m, "hierachyNode")
      // A copy on read, so that editing the array alone changes nothing until it is assigned back.
      .def_property(
          "rotation", [](const hierachyNode& n) { return Eigen::Vector3d(n.rotation); },
          [](hierachyNode& n, const Eigen::Vector3d& r) { n.rotation = r; })
      .def("getWorldTrans", &hierachyNode::getWorldTrans);
}

void bindSkeletonDescriptions(py::module_& m) {
  py::class_<Limit, std::shared_ptr<Limit>>(m, "Limit")
      .def_readwrite("effort", &Limit::effort)
      .def_readwrite("lower", &Limit::lower)
      .def_readwrite("upper", &Limit::upper)
      .def_readwrite("velocity", &Limit::velocity);

  py::class_<Dynamics, std::shared_ptr<Dynamics>>(m, "Dynamics")
      .def_readwrite("friction", &Dynamics::friction)
      .def_readwrite("damping", &Dynamics::damping);

  // Eigen members (alone or in lists) are read as copies: a view would dangle once the member is
  // reassigned. `limit` and `dynamics` are the joint's own records, so edits through them reach it.
  py::class_<SkeletonJoint, std::shared_ptr<SkeletonJoint>>(m, "SkeletonJoint")
      .def_readwrite("node", &SkeletonJoint::node)
      .def_readwrite("limit", &SkeletonJoint::limit)
      .def_readwrite("dynamics", &SkeletonJoint::dynamics)
      .def_readwrite("useLimits", &SkeletonJoint::useLimits)
      .def_readwrite("useDynamics", &SkeletonJoint::useDynamics)
      .def_property(
          "axis", [](const SkeletonJoint& j) -> std::vector<Eigen::Vector3d> { return j.axis; },
          [](SkeletonJoint& j, const std::vector<Eigen::Vector3d>& axis) { j.axis = axis; })
      .def_readwrite("type", &SkeletonJoint::type)
      .def_readwrite("actuator", &SkeletonJoint::actuator)
      .def_readwrite("springStiffness", &SkeletonJoint::springStiffness)
      .def_readonly("name", &SkeletonJoint::name);

  py::class_<SkeletonLink, std::shared_ptr<SkeletonLink>>(m, "SkeletonLink")
      .def("getWorldTrans", &SkeletonLink::getWorldTrans)
      .def_readonly("name", &SkeletonLink::name)
      .def_property(
          "size", [](const SkeletonLink& l) -> Eigen::Vector3d { return l.size; },
          [](SkeletonLink& l, const Eigen::Vector3d& size) { l.size = size; })
      .def_readwrite("mass", &SkeletonLink::mass);
}

void bindMarkers(py::module_& m) {
  py::class_<Markers, std::shared_ptr<Markers>>(m, "Markers")
      .def("getMarkersPos", &Markers::getMarkersPos)
      .def("getMarkersNormal", &Markers::getMarkersNormal)
      .def("getMarkersPressure", &Markers::getMarkersPressure)
      .def("getMarkersVel", &Markers::getMarkersVel);
}
