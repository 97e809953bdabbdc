// The physical description of a fluid problem, and its conversion to lattice units.
#pragma once

#include <cstdint>

// Units of one lattice. Conversions: dx = l0p / N, u_physical = u_lattice * u0p / u0k,
// tp = l0p * u0k / (u0p * N).
struct mlLatticeUnits {
  float tp = 0;              // physical duration of one lattice step (s); set by the solver, not by toLatticeUnits
  float l0p = 0;             // reference length (m)
  float N = 0;               // lattice spacings per reference length
  float u0p[3] = {0, 0, 0};  // reference velocity per axis (m/s)
  float visp = 0;            // kinematic viscosity (m^2/s)
  float v0k = 0;             // lattice kinematic viscosity
  float u0k = 0;             // lattice reference velocity
  float rou0p = 0;           // reference density (kg/m^3)
  float Reynolds = 0;
};

// -1 marks a value as not set; toLatticeUnits completes the record by its setup_mode.
struct simParams {
  enum SETUP_MODE : std::int32_t { MANUAL = 0, GRAVITY = 1 };

  float x0 = 0, y0 = 0, z0 = 0;             // centre of the fluid box (m)
  float width = 10, height = 4, depth = 4;  // extents along x, y, z (m)
  float slip_ratio = 0;                     // 0 no-slip, 1 free-slip at immersed boundaries
  float N = -1;                             // lattice spacings per l0p
  float l0p = -1;                           // reference length (m)
  float u0p = -1;                           // reference velocity (m/s)
  float u0k = 0.1f;                         // reference velocity in lattice units
  float rou0p = 1.25f;                      // reference density (kg/m^3)
  float dx = -1;                            // lattice spacing (m)
  float dtp = -1;                           // time step used to derive u0p in MANUAL mode (s)
  float velocityScale = 1.0f;
  std::int32_t pml_width = 0;                                  // open-boundary planes, in nodes from the faces
  double gravity[3] = {0.0, static_cast<double>(-9.8f), 0.0};  // m/s^2
  float visp = 0.001f;                                         // kinematic viscosity (m^2/s)
  std::int32_t useGpu = 1;                                     // keep host and device lattices in step
  SETUP_MODE setup_mode = GRAVITY;

  // Fills the unset values in place (printing what it fills) and returns the lattice units.
  mlLatticeUnits toLatticeUnits();
  // The same completion; returns the lattice time step tp in seconds.
  float get_tp();
  // The completion alone, shared by the two above and the lattice build. Throws std::invalid_argument for
  // a setup_mode that names no mode.
  void complete();
  // For a completed record: throws std::invalid_argument, naming the field and its value, for values that
  // cannot give a working lattice: a non-finite centre, an extent, reference length, spacing count,
  // velocity, density or viscosity that is not positive, a MANUAL-mode dx that differs from l0p / N, a
  // u0k outside (0, lattice sound speed), a negative slip_ratio or pml_width.
  void requireRunnable() const;
};
