#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "duriz/gpu_inc/mlColorMap.h"

namespace {

using Rgb = std::vector<float>;

TEST(ColorMap, JetColorAtTheQuartersAndOutsideTheRange) {
  const struct {
    float v;
    Rgb rgb;
  } cases[] = {{0, {0, 0, 1}},         {0.25f, {0, 1, 1}}, {0.5f, {0, 1, 0}}, {0.75f, {1, 1, 0}},        {1, {1, 0, 0}},
               {0.125f, {0, 0.5f, 1}}, {-3, {0, 0, 1}},    {7, {1, 0, 0}},    {std::nanf(""), {0, 0, 1}}};
  for (const auto& c : cases) {
    float rgb[3];
    jetColor(rgb, c.v);
    EXPECT_EQ(Rgb(rgb, rgb + 3), c.rgb) << c.v;
  }
}

// Maps by id: grey, jet, and fixed ramps (three of them given); an index picks an entry, inverted from the
// top; a value picks entry min(trunc(|v| * 255), 255) (the grey map shows entry / 255), NaN as 0. Ids
// without a map leave the output untouched.
TEST(ColorMap, LookUps) {
  auto map = std::make_unique<mlColorMap>();
  initColorMap(*map);
  float rgb[3];
  auto byIndex = [&](int id, int index, bool invert) {
    colorByIndex(*map, static_cast<std::uint8_t>(index), id, rgb, invert);
    return Rgb(rgb, rgb + 3);
  };
  const struct {
    int id;
    Rgb first, last;
  } ramps[] = {{1, {0, 0, 0}, {1, 1, 1}}, {2, {0, 0, 1}, {1, 0, 0}},  {3, {1, 0, 0}, {1, 1, 0}},
               {6, {0, 1, 1}, {1, 0, 1}}, {15, {1, 0, 1}, {1, 1, 0}}, {22, {1, 1, 1}, {0, 0, 0}}};
  for (const auto& r : ramps) {
    EXPECT_EQ(byIndex(r.id, 0, false), r.first) << r.id;
    EXPECT_EQ(byIndex(r.id, 255, false), r.last) << r.id;
    EXPECT_EQ(byIndex(r.id, 255, true), r.first) << r.id;
  }
  EXPECT_EQ(byIndex(1, 51, false), Rgb(3, 0.2f));
  jetColor(rgb, 64 / 255.0f);
  EXPECT_EQ(byIndex(2, 64, false), Rgb(rgb, rgb + 3));

  const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
  const struct {
    double v;
    bool invert;
    int entry;
  } values[] = {{0.5, false, 127},   {-0.5, false, 127}, {1, false, 255}, {-1, false, 255},
                {1e300, false, 255}, {-inf, false, 255}, {1, true, 0},    {-40, true, 0},
                {0.1, true, 230},    {nan, false, 0},    {nan, true, 255}};
  for (const auto& c : values) {
    colorByValue(*map, 1, rgb, c.invert, c.v);
    EXPECT_EQ(Rgb(rgb, rgb + 3), Rgb(3, c.entry / 255.0f)) << c.v << " " << c.invert;
  }

  for (int id : {0, 23, -1, 24, 1000}) {
    float untouched[3] = {0.3f, 0.6f, 0.9f};
    colorByIndex(*map, 10, id, untouched, false);
    colorByValue(*map, id, untouched, true, 0.5);
    EXPECT_EQ(Rgb(untouched, untouched + 3), Rgb({0.3f, 0.6f, 0.9f})) << id;
  }
}

}  // namespace
