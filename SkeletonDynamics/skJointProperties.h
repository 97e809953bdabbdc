// DART joint and body node properties built from skeleton descriptions, one maker per joint kind.
// Included only by the construction code and its tests: it pulls in the DART joint headers.
#pragma once

#include <dart/dynamics/BallJoint.hpp>
#include <dart/dynamics/BodyNode.hpp>
#include <dart/dynamics/FreeJoint.hpp>
#include <dart/dynamics/PlanarJoint.hpp>
#include <dart/dynamics/PrismaticJoint.hpp>
#include <dart/dynamics/RevoluteJoint.hpp>
#include <dart/dynamics/UniversalJoint.hpp>

#include "skeleton/jointType.h"

class SkeletonJoint;
class SkeletonLink;

// Name, transform from the parent body (the local transform of the joint's node), identity transform
// from the child body, limits not enforced, force actuator, no mimic joint. Throws std::invalid_argument
// when the joint has no node.
dart::dynamics::Joint::Properties makeJointProperties(const SkeletonJoint& joint);

// DART's defaults named after the link.
dart::dynamics::BodyNode::AspectProperties makeBodyNodeProperties(const SkeletonLink& link);

// Limits, initial and rest positions, springs, damping and friction of the joint's degrees of freedom,
// DART's defaults (unlimited, zero) where the description is silent. With `useLimits`, entry i of each
// limit vector serves degree of freedom i, and a range that excludes zero starts the degree of freedom
// (and rests it) at the range's midpoint, or at its finite bound when the other is infinite. Throws
// std::invalid_argument naming the joint, the field and the value for what DART would assert on or could
// not start from: with `useLimits`, a limit vector shorter than the degrees of freedom, a NaN limit, a
// lower limit above its upper one, a negative velocity or effort limit, or a start beyond any physical
// position; a spring stiffness (and with `useDynamics` a damping or friction) that is negative or not
// finite. Made for R1Space, R2Space, R3Space and SO3Space.
template <class ConfigSpace>
dart::dynamics::detail::GenericJointUniqueProperties<ConfigSpace> makeUniqueProperties(const SkeletonJoint& joint);

// DART's actuator kind of the same number; a value outside the enumeration throws std::invalid_argument
// naming the joint.
void setJointActuator(dart::dynamics::Joint& joint, actuatorType actuator);

// The makers of the seven supported kinds. Those that take axes throw std::invalid_argument naming the
// joint when it has fewer axes than they need (one for revolute, continuous and prismatic, two for
// planar and universal), or an axis that cannot be normalised.
dart::dynamics::RevoluteJoint::Properties makeRevoluteJointProperties(const SkeletonJoint& joint);
// A revolute joint whose position is unlimited; velocity and force limits, initial and rest position
// are those of the description.
dart::dynamics::RevoluteJoint::Properties makeContinuousJointProperties(const SkeletonJoint& joint);
dart::dynamics::PrismaticJoint::Properties makePrismaticJointProperties(const SkeletonJoint& joint);
// Six free degrees of freedom with DART's defaults: the description's limits and dynamics do not apply.
dart::dynamics::FreeJoint::Properties makeFreeJointProperties(const SkeletonJoint& joint);
// Translation along axes 0 and 1, rotation about their normal.
dart::dynamics::PlanarJoint::Properties makePlanarJointProperties(const SkeletonJoint& joint);
dart::dynamics::BallJoint::Properties makeBallJointProperties(const SkeletonJoint& joint);
dart::dynamics::UniversalJoint::Properties makeUniversalJointProperties(const SkeletonJoint& joint);
