#include "bindings/bindTools.h"

#include <pybind11/eigen.h>
#include <pybind11/stl.h>

#include <memory>
#include <vector>

#include "tools/mlSimplePDControl_1D.h"
#include "tools/mlTPTrajectory.h"
#include "tools/mlTPTrajectoryPData.h"
#include "tools/mlTrajectoryPointData.h"
#include "tools/mlVTKLine.h"
#include "tools/mlVTKWrtier.h"

namespace py = pybind11;

using trajectoryPoint3d = mlTrajectoryPointData<double, 3>;
using trajectory3d = mlTrajectory<double, 3>;

void bindToolFactories(py::module_& m) {
  m.def("make_trajectory", [] { return std::make_shared<mlTPTrajectory>(); });
  m.def("make_tpPoint", [] { return std::make_shared<mlTPTrajectoryPData>(); });
  m.def("make_controller",
        [](double Kp, double Kd, double timestep) { return std::make_shared<mlSimplePDControl_1D>(Kp, Kd, timestep); });
}

void bindTrajectoryClasses(py::module_& m) {
  // Eigen members (alone or in lists) are read as copies: a view into the object would dangle once the
  // member is reassigned.
  py::class_<trajectoryPoint3d, std::shared_ptr<trajectoryPoint3d>>(m, "trajectoryPoint3d")
      .def(py::init<>())
      .def_property(
          "data", [](const trajectoryPoint3d& p) -> Eigen::Vector3d { return p.data; },
          [](trajectoryPoint3d& p, const Eigen::Vector3d& v) { p.data = v; });

  py::class_<mlTPTrajectoryPData, trajectoryPoint3d, std::shared_ptr<mlTPTrajectoryPData>>(m, "trajectoryPosePoint3d")
      .def(py::init<>())
      .def("getPosition", &mlTPTrajectoryPData::getPosition)
      .def("getOrientation", &mlTPTrajectoryPData::getOrientation);

  py::class_<trajectory3d, std::shared_ptr<trajectory3d>>(m, "trajectory3d")
      .def(py::init<>())
      .def("setPoints", &trajectory3d::setPoints)
      .def("fit", &trajectory3d::fit);

  // The windowed queries write the found index back through their index argument; Python passes it by
  // value and reads the new index with getLastIdx.
  py::class_<mlTPTrajectory, trajectory3d, std::shared_ptr<mlTPTrajectory>>(m, "poseTrajectory")
      .def(py::init<>())
      .def("sample", &mlTPTrajectory::sample, py::arg("sample_num"))
      .def("getLastIdx", &mlTPTrajectory::getLastIdx)
      .def(
          "getTargetPose",
          [](mlTPTrajectory& self, const Eigen::Vector3d& position, int preSampleIdx, int look_forward) {
            return self.getTargetPose(position, preSampleIdx, look_forward);
          },
          py::arg("position"), py::arg("preSampleIdx"), py::arg("look_forward"))
      .def("getSampleNum", &mlTPTrajectory::getSampleNum)
      .def("getPose", &mlTPTrajectory::getPose, py::arg("t"))
      .def("getCurvature", &mlTPTrajectory::getCurvature, py::arg("t"))
      .def(
          "getReferencePose",
          [](const mlTPTrajectory& self, const Eigen::Vector3d& position) { return self.getReferencePose(position); },
          "Get Pose t using spline", py::arg("position"))
      .def(
          "getReferencePose",
          [](mlTPTrajectory& self, const Eigen::Vector3d& position, int posIdx, int look_forward) {
            return self.getReferencePose(position, posIdx, look_forward);
          },
          "Get Pose t using samples within lookforward range", py::arg("position"), py::arg("posIdx"),
          py::arg("look_forward") = 10);

  py::class_<mlVTKLine, std::shared_ptr<mlVTKLine>>(m, "debugLine")
      .def(py::init<>())
      .def_property(
          "vertices", [](const mlVTKLine& l) -> std::vector<Eigen::Vector3d> { return l.vertices; },
          [](mlVTKLine& l, const std::vector<Eigen::Vector3d>& v) { l.vertices = v; });

  py::class_<mlVTKWrtier>(m, "VTKWriter")
      .def_static("writeLines", &mlVTKWrtier::writeLines)
      .def_static("writeTrajectory", &mlVTKWrtier::writeTrajectory, py::arg("trajectory"), py::arg("file_path"));
}

void bindControllerClass(py::module_& m) {
  py::class_<mlSimplePDControl_1D, std::shared_ptr<mlSimplePDControl_1D>>(m, "PDControl1D")
      .def(py::init<double, double, double>(), py::arg("Kp"), py::arg("Kd"), py::arg("timestep"))
      .def("feedback", &mlSimplePDControl_1D::feedback, py::arg("value"), py::arg("timestep"))
      .def("set_value", &mlSimplePDControl_1D::set_value, py::arg("desired_value") = 0.0)
      .def("set_dvalue", &mlSimplePDControl_1D::set_dvalue, py::arg("desired_dvalue") = 0.0)
      .def("reset", &mlSimplePDControl_1D::reset);
}
