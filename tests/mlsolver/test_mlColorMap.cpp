#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "duriz/gpu_inc/mlColorMap.h"

namespace {

using Rgb = std::vector<float>;

Rgb rgbOf(const float c[3]) { return Rgb(c, c + 3); }

class ColorMap : public ::testing::Test {
 protected:
  ColorMap() : map(std::make_unique<mlColorMap>()) { initColorMap(*map); }
  std::unique_ptr<mlColorMap> map;
};

TEST(JetColor, BlueCyanGreenYellowRedAtTheQuarters) {
  const struct {
    float v;
    Rgb rgb;
  } cases[] = {{0, {0, 0, 1}},         {0.25f, {0, 1, 1}}, {0.5f, {0, 1, 0}}, {0.75f, {1, 1, 0}},        {1, {1, 0, 0}},
               {0.125f, {0, 0.5f, 1}}, {-3, {0, 0, 1}},    {7, {1, 0, 0}},    {std::nanf(""), {0, 0, 1}}};
  for (const auto& c : cases) {
    float rgb[3];
    jetColor(rgb, c.v);
    EXPECT_EQ(rgbOf(rgb), c.rgb) << c.v;
  }
}

TEST_F(ColorMap, TablesByMapId) {
  const struct {
    int id;
    Rgb first, last;
  } cases[] = {{1, {0, 0, 0}, {1, 1, 1}}, {2, {0, 0, 1}, {1, 0, 0}},  {3, {1, 0, 0}, {1, 1, 0}},
               {6, {0, 1, 1}, {1, 0, 1}}, {15, {1, 0, 1}, {1, 1, 0}}, {22, {1, 1, 1}, {0, 0, 0}}};
  for (const auto& c : cases) {
    float rgb[3];
    colorByIndex(*map, 0, c.id, rgb, false);
    EXPECT_EQ(rgbOf(rgb), c.first) << c.id;
    colorByIndex(*map, 255, c.id, rgb, false);
    EXPECT_EQ(rgbOf(rgb), c.last) << c.id;
    colorByIndex(*map, 255, c.id, rgb, true);
    EXPECT_EQ(rgbOf(rgb), c.first) << c.id;
  }
  float rgb[3];
  colorByIndex(*map, 51, 1, rgb, false);
  EXPECT_EQ(rgbOf(rgb), Rgb(3, 0.2f));
  colorByIndex(*map, 64, 2, rgb, false);
  float jet[3];
  jetColor(jet, 64 / 255.0f);
  EXPECT_EQ(rgbOf(rgb), rgbOf(jet));
}

// Entry min(trunc(|v| * 255), 255), or 255 minus that when inverted; NaN counts as 0. The grey map shows
// the entry as entry / 255.
TEST_F(ColorMap, ValueToEntry) {
  const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
  const struct {
    double v;
    bool invert;
    int entry;
  } cases[] = {{0.5, false, 127},   {-0.5, false, 127}, {1, false, 255}, {-1, false, 255},
               {1e300, false, 255}, {-inf, false, 255}, {1, true, 0},    {-40, true, 0},
               {0.1, true, 230},    {nan, false, 0},    {nan, true, 255}};
  for (const auto& c : cases) {
    float rgb[3];
    colorByValue(*map, 1, rgb, c.invert, c.v);
    EXPECT_EQ(rgbOf(rgb), Rgb(3, c.entry / 255.0f)) << c.v << " " << c.invert;
  }
}

TEST_F(ColorMap, IdsWithoutAMapLeaveTheOutputUntouched) {
  for (int id : {0, 23, -1, 24, 1000}) {
    float rgb[3] = {0.3f, 0.6f, 0.9f};
    colorByIndex(*map, 10, id, rgb, false);
    colorByValue(*map, id, rgb, true, 0.5);
    EXPECT_EQ(rgbOf(rgb), Rgb({0.3f, 0.6f, 0.9f})) << id;
  }
}

}  // namespace
