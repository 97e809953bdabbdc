// The curve interface that trajectories and the trajectory writer use, so that they do not depend on the
// spline kind. Derivatives are with respect to the spline parameter (one unit per segment).
#pragma once

#include <cstddef>

template <typename Point, typename Param>
class Spline {
 public:
  struct InterpolatedPT {
    Point position;
    Point tangent;
  };
  struct InterpolatedPTC {
    Point position;
    Point tangent;
    Point curvature;
  };
  struct InterpolatedPTCW {
    Point position;
    Point tangent;
    Point curvature;
    Point wiggle;
  };

  virtual Point evaluate(Param u) const = 0;
  virtual InterpolatedPT evaluateD1(Param u) const = 0;
  virtual InterpolatedPTC evaluateD2(Param u) const = 0;
  virtual InterpolatedPTCW evaluateD3(Param u) const = 0;
  virtual Param arcLength(Param t0, Param t1) const = 0;
  virtual Param totalLength() const = 0;
  virtual bool isLooping() const = 0;
  // The largest parameter value, which equals the number of segments.
  virtual std::size_t maxParam() const = 0;
  virtual std::size_t segmentIndex(Param u) const = 0;
  virtual Param segmentStart(std::size_t index) const = 0;
  // Arc length of one segment between the global parameters t0 and t1.
  virtual Param segmentLength(std::size_t index, Param t0, Param t1) const = 0;

  // Declared after the operations so that they keep the first eleven slots.
  virtual ~Spline() = default;
};
