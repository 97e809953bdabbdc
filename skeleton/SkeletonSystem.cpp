#include "SkeletonSystem.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

const SkeletalMesh& requireModel(const std::shared_ptr<SkeletalMesh>& mesh, const char* operation) {
  if (mesh == nullptr || mesh->nodeManager == nullptr)
    throw std::logic_error(std::string(operation) + ": the skeleton system has no model loaded");
  return *mesh;
}

// The system's reason why the model file cannot be read, which the importer words as a wrong format;
// empty when it can be read, or when it is neither a regular file nor a folder (a pipe is not opened a
// second time).
std::string unreadableReason(const std::string& path) {
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(path, ec);
  if (std::filesystem::is_directory(status)) return std::strerror(EISDIR);
  if (!std::filesystem::is_regular_file(status)) return "";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  char byte;
  const bool failed = ::read(fd, &byte, 1) < 0;
  const int error = errno;
  ::close(fd);
  return failed ? std::strerror(error) : "";
}

void printSubtree(const SkeletonJoint& joint, int depth) {
  for (int i = 0; i <= depth; ++i) std::printf("--");
  std::printf("%s %ld p:%s\n", joint.name.c_str(), static_cast<long>(joint.children.size()), joint.parentName.c_str());
  for (const auto& child : joint.children) printSubtree(*child, depth + 1);
}

}  // namespace

SkeletonSystem::SkeletonSystem(const std::string& model_file, int gpuId) {
  requireGpuDevice(gpuId, "SkeletonSystem");
  this->gpuId = gpuId;
  mesh = std::make_shared<SkeletalMesh>();
  if (!mesh->load(model_file, gpuId)) {
    std::error_code ec;
    if (std::filesystem::status(model_file, ec).type() == std::filesystem::file_type::not_found)
      throw std::filesystem::filesystem_error("cannot load the skeleton model", model_file,
                                              std::make_error_code(std::errc::no_such_file_or_directory));
    const std::string reason = unreadableReason(model_file);
    throw std::runtime_error("cannot load the skeleton model '" + model_file +
                             "': " + (reason.empty() ? mesh->importer.GetErrorString() : reason));
  }
  buildJoints();
}

std::shared_ptr<SkeletonSystem> skeletonFromFBX(const std::string& fbx_name, int gpuId) {
  return std::make_shared<SkeletonSystem>(fbx_name, gpuId);
}

void SkeletonSystem::buildJoints() {
  requireModel(mesh, "buildJoints");
  joints.clear();
  jointMap.clear();
  rootJoint.reset();
  nodeMgr& nodes = *mesh->nodeManager;

  // A bone whose name is no node name (index -1) has no node to stand on and is skipped. A bone that
  // several meshes share gets its intermediate nodes once.
  std::vector<int> branching;
  for (const auto& m : mesh->meshes)
    for (int bone : m->data_cpu.bone_nodeIdx)
      if (bone >= 0 && nodes.getChildCount(bone) > 1 &&
          std::find(branching.begin(), branching.end(), bone) == branching.end())
        branching.push_back(bone);
  // Joints find their nodes and parents by name, and links and skeleton files their joints: a new node
  // must not take a name a node has.
  std::set<std::string> names;
  for (const auto& node : nodes.nodes)
    if (!names.insert(node->name).second)
      throw std::invalid_argument("buildJoints: two nodes are named '" + node->name + "'");
  for (int bone : branching)
    for (int j = 0; j < nodes.getChildCount(bone); ++j) {
      const std::string name = nodeMgr::intermediateName(nodes.nodes[bone]->name, j);
      if (!names.insert(name).second)
        throw std::invalid_argument("buildJoints: the intermediate node '" + name + "' would take the name of a node");
    }
  for (int bone : branching) nodes.insertIntermediateNodes(bone);

  for (const auto& m : mesh->meshes)
    for (int bone : m->data_cpu.bone_nodeIdx) {
      if (bone < 0) continue;
      const std::string B = nodes.nodes[bone]->name;
      for (std::size_t k = 0; k < nodes.nodes.size(); ++k) {
        const std::string& N = nodes.nodes[k]->name;
        if (!contains(N, B) && !contains(nodes.getParentName(static_cast<int>(k)), B)) continue;
        if (jointMap.count(N) > 0) continue;
        auto joint = std::make_shared<SkeletonJoint>();
        joint->index = static_cast<int>(joints.size());
        joint->name = N;
        joint->node = nodes.nodes[k];
        joint->parentName = nodes.getParentName(nodes.nameToIndex.at(N));
        joint->isIntermediate = contains(N, "intermediate");
        joints.push_back(joint);
        jointMap[N] = joint;
      }
    }

  // The root is the first joint whose parent node is no joint; later such joints stay unattached.
  for (const auto& j : joints) {
    const auto parent = j->parentName.empty() ? jointMap.end() : jointMap.find(j->parentName);
    if (parent == jointMap.end()) {
      if (rootJoint == nullptr) rootJoint = j;
      continue;
    }
    j->parent = parent->second;
    parent->second->children.push_back(j);
  }

  buildLinks();
}

void SkeletonSystem::buildLinks() {
  requireModel(mesh, "buildLinks");
  mesh->update(false, false);
  links.clear();
  linkMap.clear();
  jointLinkMap.clear();
  for (const auto& j : joints) {
    if (j->children.empty()) continue;
    auto link = std::make_shared<SkeletonLink>(j, j->children, "");
    if (j->children.front()->isIntermediate) link->mass = 0.01;
    // A link becomes a body found by its name.
    if (!linkMap.emplace(link->name, link).second)
      throw std::invalid_argument("buildLinks: two links are named '" + link->name + "'");
    links.push_back(link);
    jointLinkMap[j->name] = link;
  }
}

void SkeletonSystem::createMarkers() {
  const SkeletalMesh& model = requireModel(mesh, "createMarkers");
  auto made = std::make_shared<Markers>(gpuId);
  for (std::size_t p = 0; p < markerPlacements.size(); ++p) {
    const Eigen::Vector3d& placement = markerPlacements[p];
    float best = 1e8f;
    int bestMesh = -1, bestVertex = -1;
    Eigen::Vector3d normal = Eigen::Vector3d::Zero();
    for (std::size_t m = 0; m < model.meshes.size(); ++m) {
      const host_MeshData& data = model.meshes[m]->data_cpu;
      for (std::size_t v = 0; v < data.curr_positions.size(); ++v) {
        const float dist = static_cast<float>((data.curr_positions[v] - placement).norm());
        if (best > dist) {
          best = dist;
          bestMesh = static_cast<int>(m);
          bestVertex = static_cast<int>(v);
          normal = data.curr_normals[v];
        }
      }
    }
    if (bestMesh < 0) {
      std::ostringstream what;
      what << "createMarkers: marker placement " << p << " at (" << placement.transpose()
           << ") has no mesh vertex within 1e8";
      throw std::invalid_argument(what.str());
    }
    made->addMarker(bestMesh, bestVertex, placement, normal);
  }
  made->allocAndUpload();
  made->upload();
  markers = made;
}

void SkeletonSystem::update(bool useGpu, bool download) {
  requireModel(mesh, "update");
  mesh->update(useGpu, download);
  for (const auto& link : links) link->updateGeometry();
}

std::shared_ptr<RenderData> SkeletonSystem::getRenderData() {
  if (requireModel(mesh, "getRenderData").meshes.empty())
    throw std::logic_error("getRenderData: the model '" + mesh->path + "' has no mesh");
  mesh->update(true, true);
  const host_MeshData& first = mesh->meshes.front()->data_cpu;
  auto out = std::make_shared<RenderData>();
  out->pos = first.curr_positions;
  out->normal = first.curr_normals;
  out->uv = first.uv;
  out->indices.assign(first.triangle_indices.begin(), first.triangle_indices.end());
  return out;
}

void SkeletonSystem::printJointTree() const {
  if (rootJoint == nullptr) throw std::logic_error("printJointTree: the skeleton system has no root joint");
  printSubtree(*rootJoint, 0);
}
