// Scene saving of the coupled simulator: body surfaces and lattices as legacy VTK files.
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <string>

#include "SkeletonDynamics/skSystem.h"
#include "SkeletonDynamics/skWorld.h"
#include "coupledLBM_sim3D.h"
#include "duriz/mlsolver/CompleteFileSet.h"
#include "duriz/mlsolver/requireNoNul.h"
#include "duriz/mlsolver/writeFluidVTK.h"
#include "skeleton/SkeletonSystem.h"
#include "writeBodyVTK.h"

namespace {

// The default folders do not exist in a fresh working directory: make them rather than save nothing.
void makeFolder(const std::string& folder) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) throw std::runtime_error("cannot create the output folder \"" + folder + "\": " + ec.message());
}

// A folder name holding a NUL character would name another folder: refused before any folder is made.
void requireFolderNames(const coupledLBM_sim3D& sim, const std::string& operation) {
  requireNoNul(sim.mainDataFolderPath, operation + ": mainDataFolderPath");
  requireNoNul(sim.objectsFolderName, operation + ": objectsFolderName");
  requireNoNul(sim.fluidFolderName, operation + ": fluidFolderName");
}

}  // namespace

std::string bodyFileName(std::size_t mesh, std::size_t system, const std::string& object_name) {
  std::ostringstream name;
  name << mesh;
  if (mesh >= 10 || system >= 10) name << "_";
  name << system << "_" << object_name << ".vtk";
  return name.str();
}

void coupledLBM_sim3D::saveScene(int frame, int save_flags) {
  requireCommitted("saveScene");
  requireFolderNames(*this, "saveScene");
  if (save_flags & ~(BODY | FLUID))
    throw std::invalid_argument("saveScene: save_flags " + std::to_string(save_flags) +
                                " is no combination of SAVE_FLAG members (BODY 1, FLUID 2)");
  prepareHostRead();
  // The files of a scene land together or not at all: a frame never mixes two moments.
  CompleteFileSet files;
  char stem[256];
  if (save_flags & BODY) {
    std::snprintf(stem, sizeof stem, "vis_object_%05d", frame);
    addObjectFiles(files, stem, "saveScene");
  }
  if (save_flags & FLUID) {
    std::snprintf(stem, sizeof stem, "vis_fluid%05d", frame);
    addFluidFiles(files, stem, "saveScene");
  }
  land(files, "saveScene");
}

void coupledLBM_sim3D::saveObjectsData(const std::string& object_name) {
  requireCommitted("saveObjectsData");
  requireFolderNames(*this, "saveObjectsData");
  prepareHostRead();
  CompleteFileSet files;
  addObjectFiles(files, object_name, "saveObjectsData");
  land(files, "saveObjectsData");
}

void coupledLBM_sim3D::saveFluidData(const std::string& fluid_name) {
  requireCommitted("saveFluidData");
  requireFolderNames(*this, "saveFluidData");
  prepareHostRead();
  CompleteFileSet files;
  addFluidFiles(files, fluid_name, "saveFluidData");
  land(files, "saveFluidData");
}

void coupledLBM_sim3D::addObjectFiles(CompleteFileSet& files, const std::string& object_name, const char* operation) {
  const std::string folder = mainDataFolderPath + objectsFolderName + "/";
  makeFolder(folder);
  for (std::size_t k = 0; k < world->systems.size(); ++k) {
    skSystem& system = *world->systems[k];
    SkeletalMesh& model = *system.description->mesh;
    // The GPU road leaves the skinned surface on the device.
    if (system.useGpu) model.update(true, true);
    for (std::size_t j = 0; j < model.meshes.size(); ++j)
      if (!writeBodyVTK(model.meshes[j]->data_cpu, folder + bodyFileName(j, k, object_name), files))
        throw std::runtime_error(std::string(operation) + ": " + files.failure());
  }
}

void coupledLBM_sim3D::addFluidFiles(CompleteFileSet& files, const std::string& fluid_name, const char* operation) {
  const std::string folder = mainDataFolderPath + fluidFolderName + "/";
  makeFolder(folder);
  for (std::size_t i = 0; i < lattices.size(); ++i) {
    const std::string path = folder + std::to_string(i) + "_" + fluid_name + ".vtk";
    if (!writeFluidVTK(*lattices[i], params[i]->toLatticeUnits(), path, world->getRefFrame(), files))
      throw std::runtime_error(std::string(operation) + ": " + files.failure());
  }
}

void coupledLBM_sim3D::land(CompleteFileSet& files, const char* operation) {
  if (!files.commit()) throw std::runtime_error(std::string(operation) + ": " + files.failure());
}
