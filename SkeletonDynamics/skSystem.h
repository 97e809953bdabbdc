// One articulated body: a DART skeleton built from a skeleton description, its links and joints, its
// skinned surface sampled into the Lagrangian points of the immersed boundary, the description's markers,
// and a reference frame that the fluid domain can follow.
//
// Link order (the link records and the point kernels index links in it): 0 is the world (no body), then
// one link per description joint that has children and a supported kind, in pre-order of the joint tree
// (a joint before its children, children in list order), and last the body-less reference-frame link
// "simple_frame". The joint manager holds the DART joints in the same pre-order.
#pragma once

#include <Eigen/Core>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "MeshLoad/GpuCopyable.h"
#include "SkeletonDynamics/mlLifeCycle.h"

namespace dart {
namespace dynamics {
class Frame;
class SimpleFrame;
class Skeleton;
}  // namespace dynamics
namespace collision {
class CollisionGroup;
}  // namespace collision
}  // namespace dart

class IBSamplerMesh;
class Markers;
class RenderData;
class SkeletonJoint;
class SkeletonLink;
class SkeletonSystem;
class skFrame;
class skJoint;
class skJointMgr;
class skLink;
class skLinkMgr;

class skSystem : public mlLifeCycle<skSystem>, public GpuCopyable {
 public:
  // Builds the skeleton from the description, samples sampleNum points over its surface, places the
  // root at its node's position plus `translation`, turned by its node's rotation plus `rotation`
  // (degrees), and records the initial state; `scaling` is not used. Throws std::invalid_argument for a
  // translation, rotation, scaling, root node placement or mimic setting beyond kDivergedState, a
  // description without model or root joint, a root joint that makes no DART joint (no children or an
  // unsupported kind), a joint with children but no link, a base link or base frame name that names no
  // link, the joint descriptions the property makers reject, a description that a living body was built
  // from (the two would pose one set of nodes and one mesh), and a sampleNum the sampler refuses.
  skSystem(std::shared_ptr<SkeletonSystem> description, int sampleNum, int gpuId, const Eigen::Vector3d& translation,
           const Eigen::Vector3d& rotation, const Eigen::Vector3d& scaling);
  ~skSystem();
  skSystem(const skSystem&) = delete;
  skSystem& operator=(const skSystem&) = delete;

  // After a DART step: the description's nodes and mesh, the markers, the link records, the point positions
  // and the point velocities follow the skeleton, on the device or on the host (useGpu). Refused by
  // requireNodes before anything changes.
  void update();
  // The updates pose every joint's hierarchy node and place every link between its joints' nodes: throws
  // std::logic_error naming the joint whose node a script removed.
  void requireNodes(const char* operation) const;
  void updateCPU();
  void updateGPU(bool download);
  // After an EMPIRICAL step: as update without the points (they are not sampled by anything).
  void updateEmpirical();

  // TWO_WAY: the point forces of the last fluid step, times scale and the point area, become link wrenches
  // on the bodies for the next DART step.
  void applyFluidForces(float scale);
  void applyFluidForcesGPU(float scale);
  void applyFluidForcesCPU(float scale);
  // EMPIRICAL: every face moving into the fluid gets the drag -area (v . n) empirical_force_amplifier n on
  // its link. Faces on links without body get none.
  void applyEmpiricalForces();
  // Host and device point velocities relative to the reference frame, in world axes.
  void updateSampleVelocities();
  void updateSampleVelocitiesGPU();

  // Every mesh face goes to the nearest link centre among the links named after its dominant bone; a face
  // with no candidate (or a mesh without bones, or a bone without node) keeps its link.
  void assignFacesToLinks();
  // Appends the reference-frame link and points refFrame at the base frame's link (the world when the name
  // is empty).
  void createRefFrame();
  void updateRefFrame();
  // Base axes from the base link's world rotation; an empty base link name keeps them.
  void updateBaseLinkAxes();
  void updateMarkers(bool useGpu);
  // From the next update on the reference frame follows `frame`.
  void setRefFrame(const std::shared_ptr<skFrame>& frame);

  // Moves the root joint to `position`, turned by the rotation that takes the base forward axis onto
  // target_orientation, then updates. Both within kDivergedState, else std::invalid_argument.
  void setHead(const Eigen::Vector3d& position, const Eigen::Vector3d& target_orientation);
  // New points over the surface, at the body's current pose and with its motion; the sampler's refusals
  // and requireNodes keep the old ones.
  void sample(int sampleNum);
  // The initial positions and velocities, no commands, forces or accelerations, then an update.
  void reset();

  Eigen::Vector3d getBaseLinkFwd() const { return baseLinkFwd; }
  Eigen::Vector3d getBaseLinkRight() const { return baseLinkRight; }
  Eigen::Vector3d getBaseLinkUp() const { return baseLinkUp; }
  // Empty pointers when no link or joint has the name.
  std::shared_ptr<skLink> getBaseLink() const;
  std::shared_ptr<skLink> getLink(const std::string& name) const;
  std::shared_ptr<skJoint> getJoint(const std::string& name) const;
  // Actuated degrees of freedom only (neither passive nor mimic).
  std::size_t getNumDofs() const;
  // All degrees of freedom, or without those of the skeleton's first joint.
  Eigen::VectorXd getVelocities(bool includeBase = true) const;
  Eigen::VectorXd getPositions(bool includeBase = true) const;
  Eigen::VectorXd getAccelerations(bool includeBase = true) const;
  // Centre of mass and its motion, relative to the world, in world coordinates.
  Eigen::Vector3d getCOM() const;
  double getMass() const;
  Eigen::Vector3d getCOMLinearVelocity() const;
  Eigen::Vector3d getCOMAngularVelocity() const;
  Eigen::Vector3d getCOMLinearAcceleration() const;
  Eigen::Vector3d getCOMSpatialAccelerationLinear() const;
  // Of the actuated degrees of freedom. setCommands throws std::invalid_argument for a vector of another
  // length or a command beyond kDivergedState.
  Eigen::VectorXd getForceUpperLimits() const;
  Eigen::VectorXd getForceLowerLimits() const;
  Eigen::VectorXd getCommands() const;
  void setCommands(const Eigen::VectorXd& commands);
  // Generalised forces of all degrees of freedom.
  Eigen::VectorXd getForces() const;
  void setForces(const Eigen::VectorXd& forces);
  // Mass-weighted mean of the bodies' world transforms.
  Eigen::Matrix4d getMassWeightedTransform() const;
  std::shared_ptr<Markers> getMarkers() const { return markers; }
  std::shared_ptr<RenderData> getRenderData() const;
  // Every sample takes its face's current link; the point order and link index array stay.
  void refreshSampleLinks();

  // Construction steps: the tree walk from `joint` (the world link first, at depth 0), and one DART joint
  // and body node with shapes, inertia and wrappers.
  void buildSkeletonTree(const std::shared_ptr<SkeletonJoint>& joint, const std::shared_ptr<SkeletonLink>& parentLink,
                         int depth);
  void createDartJointAndNode(const std::shared_ptr<SkeletonJoint>& joint,
                              const std::shared_ptr<SkeletonLink>& parentLink,
                              const std::shared_ptr<SkeletonLink>& link);

  // Sets empirical_force_amplifier; throws std::invalid_argument unless it is within [0, kDivergedState].
  void setEmpiricalForceAmplifier(double amplifier);

  double empirical_force_amplifier = 1000.0;  // gain of the EMPIRICAL drag
  std::shared_ptr<dart::dynamics::Skeleton> skeleton;
  std::shared_ptr<dart::collision::CollisionGroup> collisionGroup;  // set when a world takes the body
  bool beCollided = false;                                          // touched another body in the last world step
  std::shared_ptr<IBSamplerMesh> sampler;
  std::shared_ptr<SkeletonSystem> description;
  std::shared_ptr<Markers> markers;  // the description's
  std::shared_ptr<skLinkMgr> linkMgr;
  std::shared_ptr<skJointMgr> jointMgr;
  // The frame whose translation and linear motion the reference frame follows.
  std::shared_ptr<dart::dynamics::Frame> refFrame;
  // The reference frame the fluid domain follows: it translates with refFrame and never rotates.
  std::shared_ptr<dart::dynamics::SimpleFrame> simpleFrame;
  std::string baseFrameName;  // empty: the fluid frame is inertial
  std::string baseLinkName;
  int refLinkIdx = 0;                                      // point velocities are relative to this link's motion
  int frameLinkIdx = 0;                                    // and expressed in its axes
  Eigen::Vector3d baseLinkFwd = Eigen::Vector3d(1, 0, 0);  // world coordinates
  Eigen::Vector3d baseLinkRight = Eigen::Vector3d(0, 0, 1);
  Eigen::Vector3d baseLinkUp = Eigen::Vector3d(0, 1, 0);
  bool useGpu = true;     // the device roads of update and applyFluidForces
  bool download = false;  // device update results are brought back to the host
  Eigen::VectorXd initialPositions;
  Eigen::VectorXd initialVelocities;
  std::vector<std::size_t> actuatedDofs;  // skeleton indices, in skeleton joint order

 private:
  void placeRoot(const Eigen::Vector3d& translation, const Eigen::Vector3d& rotation);
  void findActuatedDofs();
  std::size_t baseDofs() const;
};
