#include "skJointProperties.h"

#include <cmath>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>

#include "SkeletonDynamics/requireFinite.h"
#include "skeleton/SkeletonJoint.h"
#include "skeleton/SkeletonLink.h"

using namespace dart::dynamics;

namespace {

// NaN is not finite either: its magnitude is not below the largest double.
bool isFiniteBound(double x) { return std::abs(x) <= std::numeric_limits<double>::max(); }

void requireLimits(const SkeletonJoint& joint, std::size_t dofs) {
  const struct {
    const char* name;
    const std::vector<double>& values;
  } vectors[] = {{"lower", joint.limit.lower},
                 {"upper", joint.limit.upper},
                 {"velocity", joint.limit.velocity},
                 {"effort", joint.limit.effort}};
  for (const auto& v : vectors) {
    for (std::size_t i = 0; i < dofs && i < v.values.size(); ++i)
      if (std::isnan(v.values[i]))
        throw std::invalid_argument("joint \"" + joint.name + "\": limit." + v.name + "[" + std::to_string(i) +
                                    "] is NaN");
    if (v.values.size() < dofs)
      throw std::invalid_argument("joint \"" + joint.name + "\": useLimits is set but limit." + v.name + " has " +
                                  std::to_string(v.values.size()) + " entries for " + std::to_string(dofs) +
                                  " degrees of freedom");
  }
  // DART's constraint solver asserts on ranges out of order, the limits of velocity and effort included.
  for (std::size_t i = 0; i < dofs; ++i) {
    const std::string entry = "[" + std::to_string(i) + "]";
    if (joint.limit.lower[i] > joint.limit.upper[i])
      throw std::invalid_argument("joint \"" + joint.name + "\": limit.lower" + entry + " = " +
                                  valueText(joint.limit.lower[i]) + " is above limit.upper" + entry + " = " +
                                  valueText(joint.limit.upper[i]));
    requireNotNegative(joint.limit.velocity[i], "joint \"" + joint.name + "\": limit.velocity" + entry);
    requireNotNegative(joint.limit.effort[i], "joint \"" + joint.name + "\": limit.effort" + entry);
  }
}

// A spring, damping or friction coefficient: DART asserts on a negative or a huge one.
void requireCoefficient(const SkeletonJoint& joint, double value, const char* field) {
  const std::string what = "joint \"" + joint.name + "\": " + field;
  requireNotNegative(requireBounded(value, what), what);
}

const Eigen::Vector3d& axisOf(const SkeletonJoint& joint, std::size_t i) {
  if (joint.axis.size() <= i)
    throw std::invalid_argument("joint \"" + joint.name + "\" of kind " + jointTypeName(joint.type) + " needs " +
                                std::to_string(i + 1) + " axes but has " + std::to_string(joint.axis.size()));
  const Eigen::Vector3d& axis = requireFinite(joint.axis[i], "joint \"" + joint.name + "\": axis " + std::to_string(i));
  if (axis.isZero(0))
    throw std::invalid_argument("joint \"" + joint.name + "\": axis " + std::to_string(i) + " is zero");
  // DART normalises the axis: a squared length that under- or overflows would leave it unnormalised.
  const double squared = axis.squaredNorm();
  if (!(squared > 0) || !std::isfinite(squared)) {
    std::ostringstream what;
    what << "joint \"" << joint.name << "\": axis " << i << " ("
         << axis.transpose().format(Eigen::IOFormat(Eigen::StreamPrecision, Eigen::DontAlignCols, ", "))
         << ") is too short or too long to normalise";
    throw std::invalid_argument(what.str());
  }
  return joint.axis[i];
}

// The two axes of a planar or universal joint must span a plane.
void requireTwoDirections(const SkeletonJoint& joint) {
  const Eigen::Vector3d a = axisOf(joint, 0).normalized(), b = axisOf(joint, 1).normalized();
  if (a.cross(b).norm() < 1e-9)
    throw std::invalid_argument("joint \"" + joint.name + "\" of kind " + jointTypeName(joint.type) +
                                ": its axes 0 and 1 are parallel");
}

}  // namespace

Joint::Properties makeJointProperties(const SkeletonJoint& joint) {
  if (!joint.node) throw std::invalid_argument("joint \"" + joint.name + "\" has no hierarchy node");
  requireBounded(joint.node->localTransform().matrix(), "joint \"" + joint.name + "\": the node transform");
  return Joint::Properties(joint.name, joint.node->localTransform(), Eigen::Isometry3d::Identity(), false, Joint::FORCE,
                           nullptr, 1.0, 0.0);
}

BodyNode::AspectProperties makeBodyNodeProperties(const SkeletonLink& link) {
  return BodyNode::AspectProperties(link.name);
}

template <class ConfigSpace>
detail::GenericJointUniqueProperties<ConfigSpace> makeUniqueProperties(const SkeletonJoint& joint) {
  constexpr std::size_t n = ConfigSpace::NumDofs;
  detail::GenericJointUniqueProperties<ConfigSpace> p;
  if (joint.useLimits) requireLimits(joint, n);
  requireCoefficient(joint, joint.springStiffness, "springStiffness");
  if (joint.useDynamics) {
    requireCoefficient(joint, joint.dynamics.damping, "dynamics.damping");
    requireCoefficient(joint, joint.dynamics.friction, "dynamics.friction");
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (joint.useLimits) {
      const double lower = joint.limit.lower[i], upper = joint.limit.upper[i];
      p.mPositionLowerLimits[i] = lower;
      p.mPositionUpperLimits[i] = upper;
      p.mVelocityLowerLimits[i] = -joint.limit.velocity[i];
      p.mVelocityUpperLimits[i] = joint.limit.velocity[i];
      p.mForceLowerLimits[i] = -joint.limit.effort[i];
      p.mForceUpperLimits[i] = joint.limit.effort[i];
      // Zero is outside the range: start inside it.
      if (lower > 0 || upper < 0) {
        // Halved first: (lower + upper) * 0.5 to the bit, without overflow near the largest double.
        if (isFiniteBound(lower) && isFiniteBound(upper))
          p.mInitialPositions[i] = lower * 0.5 + upper * 0.5;
        else if (isFiniteBound(lower))
          p.mInitialPositions[i] = lower;
        else if (isFiniteBound(upper))
          p.mInitialPositions[i] = upper;
        // DART's transforms fail on such a start before the first step could report it.
        if (std::abs(p.mInitialPositions[i]) > kDivergedState)
          throw std::invalid_argument("joint \"" + joint.name + "\": limit.lower[" + std::to_string(i) +
                                      "] = " + valueText(lower) + " and limit.upper[" + std::to_string(i) +
                                      "] = " + valueText(upper) + " start it at " + valueText(p.mInitialPositions[i]) +
                                      ", beyond any physical position (" + valueText(kDivergedState) + ")");
        p.mRestPositions = p.mInitialPositions;
      }
    }
    p.mSpringStiffnesses[i] = joint.springStiffness;
    if (joint.useDynamics) {
      p.mDampingCoefficients[i] = joint.dynamics.damping;
      p.mFrictions[i] = joint.dynamics.friction;
    }
  }
  return p;
}

template detail::GenericJointUniqueProperties<dart::math::R1Space> makeUniqueProperties<dart::math::R1Space>(
    const SkeletonJoint&);
template detail::GenericJointUniqueProperties<dart::math::R2Space> makeUniqueProperties<dart::math::R2Space>(
    const SkeletonJoint&);
template detail::GenericJointUniqueProperties<dart::math::R3Space> makeUniqueProperties<dart::math::R3Space>(
    const SkeletonJoint&);
template detail::GenericJointUniqueProperties<dart::math::SO3Space> makeUniqueProperties<dart::math::SO3Space>(
    const SkeletonJoint&);

void setJointActuator(Joint& joint, actuatorType actuator) {
  if (actuator < actuatorType::force || actuator > actuatorType::locked)
    throw std::invalid_argument("joint \"" + joint.getName() + "\": actuator " + std::to_string(actuator) +
                                " names no actuator kind (force 0 to locked 6)");
  // The enumerations agree value for value.
  joint.setActuatorType(static_cast<Joint::ActuatorType>(actuator));
}

RevoluteJoint::Properties makeRevoluteJointProperties(const SkeletonJoint& joint) {
  return RevoluteJoint::Properties(GenericJoint<dart::math::R1Space>::Properties(
                                       makeJointProperties(joint), makeUniqueProperties<dart::math::R1Space>(joint)),
                                   RevoluteJoint::UniqueProperties(axisOf(joint, 0)));
}

RevoluteJoint::Properties makeContinuousJointProperties(const SkeletonJoint& joint) {
  RevoluteJoint::Properties p = makeRevoluteJointProperties(joint);
  p.mPositionLowerLimits[0] = -std::numeric_limits<double>::infinity();
  p.mPositionUpperLimits[0] = std::numeric_limits<double>::infinity();
  return p;
}

PrismaticJoint::Properties makePrismaticJointProperties(const SkeletonJoint& joint) {
  return PrismaticJoint::Properties(GenericJoint<dart::math::R1Space>::Properties(
                                        makeJointProperties(joint), makeUniqueProperties<dart::math::R1Space>(joint)),
                                    PrismaticJoint::UniqueProperties(axisOf(joint, 0)));
}

FreeJoint::Properties makeFreeJointProperties(const SkeletonJoint& joint) {
  return FreeJoint::Properties(GenericJoint<dart::math::SE3Space>::Properties(makeJointProperties(joint)));
}

PlanarJoint::Properties makePlanarJointProperties(const SkeletonJoint& joint) {
  requireTwoDirections(joint);
  Joint::Properties base = makeJointProperties(joint);
  base.mIsPositionLimitEnforced = joint.useLimits;
  return PlanarJoint::Properties(
      GenericJoint<dart::math::R3Space>::Properties(base, makeUniqueProperties<dart::math::R3Space>(joint)),
      PlanarJoint::UniqueProperties(axisOf(joint, 0), axisOf(joint, 1)));
}

BallJoint::Properties makeBallJointProperties(const SkeletonJoint& joint) {
  return BallJoint::Properties(GenericJoint<dart::math::SO3Space>::Properties(
      makeJointProperties(joint), makeUniqueProperties<dart::math::SO3Space>(joint)));
}

UniversalJoint::Properties makeUniversalJointProperties(const SkeletonJoint& joint) {
  requireTwoDirections(joint);
  Joint::Properties base = makeJointProperties(joint);
  base.mIsPositionLimitEnforced = joint.useLimits;
  return UniversalJoint::Properties(
      GenericJoint<dart::math::R2Space>::Properties(base, makeUniqueProperties<dart::math::R2Space>(joint)),
      UniversalJoint::UniqueProperties(axisOf(joint, 0), axisOf(joint, 1)));
}
