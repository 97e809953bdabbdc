#include "bindSkeletonSystem.h"

#include <pybind11/eigen.h>
#include <pybind11/stl.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "skeleton/SkeletonJson.h"
#include "skeleton/SkeletonSystem.h"

namespace py = pybind11;

namespace {

// A list assigned from a script must not carry None: every operation walks the lists.
template <class T>
void assignNonNull(std::vector<std::shared_ptr<T>>& member, const std::vector<std::shared_ptr<T>>& value,
                   const char* what) {
  for (std::size_t i = 0; i < value.size(); ++i)
    if (value[i] == nullptr) throw std::invalid_argument(std::string(what) + "[" + std::to_string(i) + "] is None");
  member = value;
}

}  // namespace

void bindSkeletonSystemFactory(py::module_& m) {
  m.def("make_skeletonSystem",
        [](const std::string& model_file, int gpuId) { return std::make_shared<SkeletonSystem>(model_file, gpuId); });
}

void bindRenderData(py::module_& m) {
  // Lists of vectors are read as copies of fresh arrays, not views into the snapshot.
  py::class_<RenderData, std::shared_ptr<RenderData>>(m, "RenderData")
      .def_property(
          "pos", [](const RenderData& r) { return r.pos; },
          [](RenderData& r, const std::vector<Eigen::Vector3d>& v) { r.pos = v; })
      .def_property(
          "normal", [](const RenderData& r) { return r.normal; },
          [](RenderData& r, const std::vector<Eigen::Vector3d>& v) { r.normal = v; })
      .def_property(
          "uv", [](const RenderData& r) { return r.uv; },
          [](RenderData& r, const std::vector<Eigen::Vector2d>& v) { r.uv = v; })
      .def_readwrite("indices", &RenderData::indices);
}

void bindSkeletonSystem(py::module_& m) {
  py::class_<SkeletonSystem, std::shared_ptr<SkeletonSystem>>(m, "SkeletonSystem")
      .def(py::init<const std::string&, int>(), py::arg("model_file"), py::arg("gpuId"))
      .def("getRenderData", &SkeletonSystem::getRenderData)
      .def("update", &SkeletonSystem::update)
      .def_property(
          "joints", [](const SkeletonSystem& s) { return s.joints; },
          [](SkeletonSystem& s, const std::vector<std::shared_ptr<SkeletonJoint>>& v) {
            assignNonNull(s.joints, v, "joints");
          })
      .def_property(
          "links", [](const SkeletonSystem& s) { return s.links; },
          [](SkeletonSystem& s, const std::vector<std::shared_ptr<SkeletonLink>>& v) {
            assignNonNull(s.links, v, "links");
          });
}

void bindSkeletonFiles(py::module_& m) {
  m.def("skeletonFromJson", &skeletonFromJson, py::arg("json_name"), py::arg("gpuId"));
  m.def("SkeletonToJson", &SkeletonToJson, py::arg("json_name"), py::arg("skeleton"));
  m.def("skeletonFromFBX", &skeletonFromFBX, py::arg("fbx_name"), py::arg("gpuId"));
}
