#include "mlFarField.h"

void mlFollowOutflow(mlFarField& farField, float hysteresis) {
  auto outward = [&](int axis, int side) { return static_cast<float>(side) * farField.u[axis]; };
  int axis = farField.outflowAxis, side = farField.outflowSide;
  for (int a = 0; a < 3; ++a)
    for (int s = -1; s <= 1; s += 2)
      if (outward(a, s) > outward(axis, side)) {
        axis = a;
        side = s;
      }
  if (outward(axis, side) > outward(farField.outflowAxis, farField.outflowSide) + hysteresis) {
    farField.outflowAxis = axis;
    farField.outflowSide = side;
  }
}
