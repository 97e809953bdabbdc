// The eleven spline operations on top of a policy that holds the control points and evaluates the basis
// of one segment; arc lengths integrate the speed with the 13-point Gauss-Legendre rule per segment.
#pragma once

#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/Spline.h"
#include "tools/gaussLegendre13.h"

template <template <typename, typename> class Common, typename Point, typename Param>
class SplineImpl : public Spline<Point, Param> {
 public:
  using Base = Spline<Point, Param>;
  using typename Base::InterpolatedPT;
  using typename Base::InterpolatedPTC;
  using typename Base::InterpolatedPTCW;

  explicit SplineImpl(const std::vector<Point>& points) : common(points) {}

  Point evaluate(Param u) const override {
    const auto at = common.locate(u);
    return common.cubicBasis(at.index, at.s);
  }

  InterpolatedPT evaluateD1(Param u) const override {
    const auto at = common.locate(u);
    return {common.cubicBasis(at.index, at.s), common.cubicBasisD1(at.index, at.s)};
  }

  InterpolatedPTC evaluateD2(Param u) const override {
    const auto at = common.locate(u);
    return {common.cubicBasis(at.index, at.s), common.cubicBasisD1(at.index, at.s),
            common.cubicBasisD2(at.index, at.s)};
  }

  InterpolatedPTCW evaluateD3(Param u) const override {
    const auto at = common.locate(u);
    return {common.cubicBasis(at.index, at.s), common.cubicBasisD1(at.index, at.s), common.cubicBasisD2(at.index, at.s),
            common.cubicBasisD3(at.index)};
  }

  // The order of t0 and t1 does not matter; limits outside [0, max] integrate the extended end segments.
  Param arcLength(Param t0, Param t1) const override {
    const Param lo = std::min(t0, t1);
    const Param hi = std::max(t0, t1);
    if (hi < 0) return segmentArcLength(0, lo, hi);

    const std::size_t iLo = common.segmentOf(lo);
    const std::size_t iHi = common.segmentOf(hi);
    if (iLo == iHi) return segmentArcLength(iLo, lo - static_cast<Param>(iLo), hi - static_cast<Param>(iLo));

    Param sum = segmentArcLength(iLo, lo - static_cast<Param>(iLo), 1);
    for (std::size_t j = iLo + 1; j < iHi; ++j) sum += segmentArcLength(j, 0, 1);
    sum += segmentArcLength(iHi, 0, hi - static_cast<Param>(iHi));
    return sum;
  }

  Param totalLength() const override {
    Param sum = 0;
    for (std::size_t i = 0; i < common.segmentCount(); ++i) sum += segmentArcLength(i, 0, 1);
    return sum;
  }

  bool isLooping() const override { return false; }

  std::size_t maxParam() const override { return common.segmentCount(); }

  std::size_t segmentIndex(Param u) const override { return common.segmentOf(u); }

  Param segmentStart(std::size_t index) const override { return static_cast<Param>(index); }

  Param segmentLength(std::size_t index, Param t0, Param t1) const override {
    if (index >= common.segmentCount())
      throw std::out_of_range("segment " + std::to_string(index) + " of a spline with " +
                              std::to_string(common.segmentCount()) + " segments");
    return segmentArcLength(index, t0 - static_cast<Param>(index), t1 - static_cast<Param>(index));
  }

  Param maxParameter() const { return common.maxParameter; }

 protected:
  // Length of segment i between the local parameters a and b: the speed integrated over [a, b].
  Param segmentArcLength(std::size_t i, Param a, Param b) const {
    const Param h = (b - a) * Param(0.5);
    const Param c = (b + a) * Param(0.5);
    Param sum = 0;
    for (int k = 0; k < kGaussLegendre13Count; ++k) {
      const Param t = kGaussLegendre13Nodes[k] * h + c;
      const Param speed = static_cast<Param>(common.cubicBasisD1(i, t).norm());
      sum += speed * kGaussLegendre13Weights[k];
    }
    return sum * h;
  }

  Common<Point, Param> common;
};
