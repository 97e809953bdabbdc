#include "bindSkeletonModels.h"

#include <pybind11/eigen.h>

#include <memory>

#include "MeshLoad/hierachyNode.h"
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
