// The coupled simulation a script drives: the host lattice built from the parameters, the GPU fluid
// solver, the attached multi-body world, and the sync state that keeps host and device lattices in step.
//
// Order of use: construct, attachWorld, commitInit, then step, the node edits, reset and saving. Calls out
// of that order throw std::logic_error.
#pragma once

#include <Eigen/Core>

#include <memory>
#include <string>
#include <vector>

#include "MeshLoad/GpuCopyable.h"
#include "duriz/mlsolver/couplingMode.h"
#include "duriz/mlsolver/mlFlow.h"
#include "duriz/mlsolver/simParams.h"

class CompleteFileSet;
class mlSinglePhaseSolverNew;
class skWorld;

// Bits of saveScene's save_flags.
enum SCENE_SAVE_FLAG : int {
  BODY = 1,   // the body surfaces
  FLUID = 2,  // the lattices
};

// File name of mesh `mesh` of body `system`: "<mesh><system>_<object_name>.vtk" while both indices are
// single digits, "<mesh>_<system>_<object_name>.vtk" beyond, so that no two meshes share a file.
std::string bodyFileName(std::size_t mesh, std::size_t system, const std::string& object_name);

class coupledLBM_sim3D : public GpuCopyable {
 public:
  // Which copy of the lattices is newer.
  enum SyncState : int {
    DEVICE_NEWER = 1,
    HOST_FRESH = 0,   // just downloaded: host equals device
    HOST_EDITED = 2,  // an upload is pending
  };

  // No parameter record and no lattice: nothing can be committed until a record is given.
  coupledLBM_sim3D() = default;
  // Builds the host lattice from the parameters; throws std::invalid_argument when they cannot give a
  // working lattice (simParams::requireRunnable, open-boundary planes that pass each other).
  coupledLBM_sim3D(std::shared_ptr<simParams> param, int gpuId);
  // Takes the other's device id and parameter records and builds lattices of its own from them, at rest;
  // nothing else (world, solver, folders, step count) is taken, and no host array is shared.
  explicit coupledLBM_sim3D(const coupledLBM_sim3D& other);
  coupledLBM_sim3D& operator=(const coupledLBM_sim3D&) = delete;
  // Frees the device lattices, then the host lattices.
  ~coupledLBM_sim3D();

  // Replaces the lattices by one built from the first parameter record (none without a record). Throws
  // std::logic_error once committed: the device lattices mirror the current ones.
  void buildLattices();
  // The first parameter record (empty without one).
  std::shared_ptr<simParams> getParams() const;

  // After the commit too: the world is stepped from the next step on.
  void attachWorld(std::shared_ptr<skWorld> world);
  // Checks the record again (simParams::requireRunnable), creates the GPU solver (freeing an earlier one's
  // device memory), sets every node to rest at density 1, one rigid-body step to one lattice step, takes
  // the world's point sets, places lattice 0 on a moving reference frame and mirrors the lattices on the
  // device. Needs an attached world. Before anything changes, throws std::invalid_argument when a field
  // that shapes the lattice (centre, extent, dx, N, l0p) differs from the one it was built with, and
  // OutOfMemory when the device mirror needs more than deviceMemoryAvailable (less what an earlier commit
  // holds). A device allocation that fails all the same throws OutOfMemory and leaves the simulator
  // uncommitted. Fields that only set units (u0p, u0k, visp, ...) take effect, and so do slip_ratio and
  // pml_width.
  void commitInit();
  // One lattice step in the mode (another value throws std::invalid_argument): pending host edits go up
  // first (fluid modes), then the fluid and
  // rigid-body step of the attached world's bodies as they are now, then the markers of every body sample
  // lattice 0. What the world's step refuses before it begins (skWorld::requireSteppable) is refused
  // before the fluid moves; a world step refused later (diverged forces or state) is undone by the world,
  // and the step is not counted, but the fluid has taken it.
  void step(couplingMode couple_mode);
  int getIterNum() const { return iterNum; }
  // Lattice steps per output frame, 1 / (tp * frame_rate) truncated, at least 1. Throws
  // std::invalid_argument for a frame rate <= 0.
  int getIterPerSave(int frame_rate);

  // Before a host edit: download when the device is newer; the host is edited from then on.
  void prepareHostWrite();
  // Before a host read: download when the device is newer.
  void prepareHostRead();
  // Before a host read: prepareHostRead; unless keepFresh, the host then counts as edited, so the next
  // fluid step uploads it.
  void prepareHostAccess(bool keepFresh);

  // Node edits of lattice `scale` at a physical point: a point outside the box [start, start + extent] is
  // skipped; one on an upper face goes to the last node. Forces and velocities are in lattice units,
  // forces scaled by the node density. A `scale` that names no lattice throws std::out_of_range; arrays
  // whose row counts differ, or that are not N x 3, and points or values that are not finite throw
  // std::invalid_argument, before anything changes.
  void set_force(float x, float y, float z, float fx, float fy, float fz, int scale = 0);
  // Prints the lattice origin, then sets the force of every row's node.
  void set_force_all(const Eigen::MatrixXd& positions, const Eigen::MatrixXd& forces, int scale = 0);
  // Makes the node a prescribed-velocity node at the equilibrium of its density and that velocity.
  void set_velocity(float x, float y, float z, float ux, float uy, float uz, int scale = 0);
  void set_velocity_all(const Eigen::MatrixXd& positions, const Eigen::MatrixXd& velocities, int scale = 0);
  // Every node of the lattice becomes a fluid node; velocities and distributions stay.
  void dismissinlet(int scale = 0);
  // Every node but empty and solid ones becomes a fluid node at rest at the host copy's density, and the
  // device takes those densities and zero fitted collision rates; the world, the step count and a box that
  // follows the bodies go back to their start.
  void reset();
  // Prints the units and the host lattice's layout; needs no commit.
  void log();

  // Writes the body surfaces (BODY) and the lattices (FLUID) of frame `frame`, creating missing folders.
  // Flags with other bits, and a folder name holding a NUL character (in any saving operation below),
  // throw std::invalid_argument before any folder is made.
  // The files land together: when one cannot be written, std::runtime_error names it and the system's
  // reason, and none of them is written (earlier files stay as they were). Each saving operation below
  // lands its files the same way.
  void saveScene(int frame, int save_flags);
  // <main><objects>/bodyFileName(mesh, system, object_name) per mesh of every body.
  void saveObjectsData(const std::string& object_name);
  // <main><fluid>/<lattice>_<fluid_name>.vtk per lattice.
  void saveFluidData(const std::string& fluid_name);

  std::string mainDataFolderPath = "./data/vis_data/";  // output root; the sub-folders follow it directly
  std::string objectsFolderName = "Objects";
  std::string fluidFolderName = "Fluid";
  std::shared_ptr<mlSinglePhaseSolverNew> solver;  // created by commitInit
  int iterNum = 0;                                 // steps since construction or the last reset
  std::vector<std::unique_ptr<mlFlow>> lattices;   // host lattices, one per parameter record
  std::vector<std::shared_ptr<simParams>> params;
  int syncState = DEVICE_NEWER;
  std::shared_ptr<skWorld> world;

 private:
  simParams builtFrom;  // the first record as the lattices were built from it

  static void requireOpenBoundaryFits(const simParams& p, const mlFlow& lattice);
  void requireUnchangedShape() const;
  void requireDeviceRoom() const;
  // Only a committed simulator has device lattices to copy to and from.
  bool copiesEnabled() const { return solver && params.front()->useGpu == 1; }
  void requireCommitted(const char* operation) const;
  mlFlow& lattice(int scale, const char* operation);
  void downloadAll();
  void uploadAll();
  // A box that follows a moving reference frame is centred on it: the host origin of lattice 0.
  void centreOnReferenceFrame();
  // Copies the device lattices' origins into the host records, leaving the other host data alone.
  void fetchDeviceOrigins();
  // Add the files of saveObjectsData and saveFluidData to a set; a file that cannot be written throws.
  void addObjectFiles(CompleteFileSet& files, const std::string& object_name, const char* operation);
  void addFluidFiles(CompleteFileSet& files, const std::string& fluid_name, const char* operation);
  // Names the set's files; throws std::runtime_error when one cannot take its name.
  static void land(CompleteFileSet& files, const char* operation);
};
