// The water far from a box that follows a moving frame. It is at rest in the world, so it crosses the box
// at the frame's velocity reversed; the open boundary holds the box's planes to it, except the one plane
// through which the water leaves, which is held at the reference density.
#pragma once

struct mlFarField {
  float u[3] = {0.0f, 0.0f, 0.0f};  // velocity through the box, lattice units, box axes
  float rho = 1.0f;                 // density of the outflow plane, lattice units
  int outflowAxis = 0;              // the outflow plane: axis (0 x, 1 y, 2 z) ...
  int outflowSide = -1;             // ... and side (-1 the low plane, +1 the high one)
};

// Points the outflow plane of `farField` at the plane its velocity crosses outward fastest (the largest
// side * u[axis]). Another plane takes over only when it leads the current one by more than `hysteresis`,
// so that a body whose speed swings about zero with its stroke does not flip the planes at every stroke.
// With the water at rest the plane stays where it was (the low x plane at first).
void mlFollowOutflow(mlFarField& farField, float hysteresis);
