// The per-point rules of the link records, written once for the kernels and the host twins: the velocity
// a Lagrangian point takes from its link, and the wrench its fluid force puts on the link. Plain doubles;
// matrices column-major as in skLinkData.
#pragma once

#include "MeshLoad/Sampler/MeshSample.h"
#include "SkeletonDynamics/skLinkData.h"

__host__ __device__ inline void skCross(const double a[3], const double b[3], double out[3]) {
  out[0] = a[1] * b[2] - a[2] * b[1];
  out[1] = a[2] * b[0] - a[0] * b[2];
  out[2] = a[0] * b[1] - a[1] * b[0];
}

// R v, with R the rotation of the rigid transform T.
__host__ __device__ inline void skRotate(const double* T, const double v[3], double out[3]) {
  for (int r = 0; r < 3; ++r) out[r] = T[r] * v[0] + T[4 + r] * v[1] + T[8 + r] * v[2];
}

// R^T v.
__host__ __device__ inline void skRotateBack(const double* T, const double v[3], double out[3]) {
  for (int c = 0; c < 3; ++c) out[c] = T[4 * c] * v[0] + T[4 * c + 1] * v[1] + T[4 * c + 2] * v[2];
}

// R x + t: a point mapped by T.
__host__ __device__ inline void skTransformPoint(const double* T, const double x[3], double out[3]) {
  skRotate(T, x, out);
  for (int r = 0; r < 3; ++r) out[r] += T[12 + r];
}

// A B for rigid transforms (the last rows stay 0 0 0 1).
__host__ __device__ inline void skCompose(const double* A, const double* B, double out[16]) {
  for (int c = 0; c < 4; ++c) {
    skRotate(A, B + 4 * c, out + 4 * c);
    out[4 * c + 3] = B[4 * c + 3];
  }
  for (int r = 0; r < 3; ++r) out[12 + r] += A[12 + r];
}

// The transform of record a relative to record b: a's world transform when b is the world, the identity
// when a and b are the same record, else b's inverse times a's world transform.
__host__ __device__ inline void skRelativeTransform(const skLinkData& a, const skLinkData& b, double out[16]) {
  if (b.isWorld == 1.0) {
    for (int k = 0; k < 16; ++k) out[k] = a.worldTransform[k];
  } else if (&a == &b) {
    for (int k = 0; k < 16; ++k) out[k] = (k % 5 == 0) ? 1.0 : 0.0;
  } else {
    skCompose(b.inverseTransform, a.worldTransform, out);
  }
}

// Velocity of the material point p (body coordinates of `link`) relative to the rigid motion of `ref`, in
// the axes of `frame`: zero when link is ref; no reference term when ref is the world; body coordinates
// of the link when frame is the link, world axes when frame is the world.
__host__ __device__ inline void skPointVelocity(const skLinkData& link, const double p[3], const skLinkData& ref,
                                                const skLinkData& frame, double u[3]) {
  if (&link == &ref) {
    u[0] = u[1] = u[2] = 0.0;
    return;
  }
  const double* w = link.spatialVelocity;
  const double* v = link.spatialVelocity + 3;
  skCross(w, p, u);
  for (int k = 0; k < 3; ++k) u[k] += v[k];

  if (ref.isWorld != 1.0) {
    // The reference frame's motion carried to p, with A the reference relative to the link:
    // a x p + A_R v_r + A_t x a, where a = A_R w_r.
    double A[16], a[3], ap[3], av[3], ta[3];
    skRelativeTransform(ref, link, A);
    skRotate(A, ref.spatialVelocity, a);
    skCross(a, p, ap);
    skRotate(A, ref.spatialVelocity + 3, av);
    skCross(A + 12, a, ta);
    for (int k = 0; k < 3; ++k) u[k] -= ap[k] + av[k] + ta[k];
  }

  if (&link == &frame) return;
  double world[3];
  skRotate(link.worldTransform, u, world);
  if (frame.isWorld == 1.0) {
    for (int k = 0; k < 3; ++k) u[k] = world[k];
  } else {
    skRotate(frame.inverseTransform, world, u);
  }
}

// The wrench on `link`, about its origin and in its body coordinates, of a point at x (world) where the
// fluid takes the force f (world): the body feels the reaction -f.
__host__ __device__ inline SampleWrench skPointWrench(const skLinkData& link, const double x[3], const double f[3]) {
  SampleWrench w;
  double* torque = w.values;
  double* force = w.values + 3;
  double p[3];
  skRotateBack(link.worldTransform, f, force);
  for (int k = 0; k < 3; ++k) force[k] = -force[k];
  skTransformPoint(link.inverseTransform, x, p);
  skCross(p, force, torque);
  return w;
}

// a += b, value by value: the sum the per-link gathering takes.
__host__ __device__ inline void skAddWrench(SampleWrench& a, const SampleWrench& b) {
  for (int k = 0; k < 6; ++k) a.values[k] += b.values[k];
}
