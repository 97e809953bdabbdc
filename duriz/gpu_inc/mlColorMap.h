// Colour tables that turn a byte or a value into RGB (components in [0, 1]). Map id 1 is a grey ramp, 2 the
// jet map, 3 to 22 fixed two-colour ramps; any other id (0 and 23 included) means no map, and a look-up
// with it leaves the output untouched.
#pragma once

#include <cstdint>

struct mlColorMap {
  float spare[256][3] = {};         // not filled by initColorMap; no map id refers to it
  float grey[256][3] = {};          // entry i = i / 255 on every component
  float jet[256][3] = {};           // entry i = jetColor(i / 255)
  const float (*maps[24])[3] = {};  // table of each map id, null for no map
};

// Fills the grey and jet tables and the table of each map id.
void initColorMap(mlColorMap& map);

// The jet colour of v in [0, 1]: blue, cyan, green, yellow, red at 0, 0.25, 0.5, 0.75, 1, linear between.
// v outside [0, 1] is clamped into it; NaN counts as 0.
void jetColor(float rgb[3], float v);

// Entry index (255 - index when inverted) of map mapId.
void colorByIndex(const mlColorMap& map, std::uint8_t index, int mapId, float rgb[3], bool invert);

// Entry min(trunc(|v| * 255), 255) of map mapId (255 minus that when inverted); NaN counts as 0.
void colorByValue(const mlColorMap& map, int mapId, float rgb[3], bool invert, double v);
