#include "mlColorMap.h"

#include <cmath>
#include <cstring>

namespace {

constexpr int kEntries = 256;
constexpr int kFirstFixedId = 3;
constexpr int kFixedCount = 20;  // ids 3 to 22
constexpr int kMapIds = 24;      // 0 to 23

// The fixed maps run linearly from one colour to another.
struct Ramp {
  float from[3], to[3];
};
constexpr Ramp kRamps[kFixedCount] = {
    {{1, 0, 0}, {1, 1, 0}},  // 3: red to yellow
    {{1, 1, 0}, {0, 1, 0}},  // 4: yellow to green
    {{0, 1, 0}, {0, 1, 1}},  // 5: green to cyan
    {{0, 1, 1}, {1, 0, 1}},  // 6: cyan to magenta
    {{0, 0, 1}, {1, 0, 1}},  // 7: blue to magenta
    {{1, 0, 1}, {1, 0, 0}},  // 8: magenta to red
    {{0, 0, 0}, {1, 0, 0}},  // 9: black to red
    {{0, 0, 0}, {0, 1, 0}},  // 10: black to green
    {{0, 0, 0}, {0, 0, 1}},  // 11: black to blue
    {{0, 0, 1}, {1, 0, 0}},  // 12: blue to red
    {{0, 0, 1}, {1, 1, 0}},  // 13: blue to yellow
    {{0, 1, 0}, {1, 0, 1}},  // 14: green to magenta
    {{1, 0, 1}, {1, 1, 0}},  // 15: magenta to yellow
    {{1, 0, 0}, {1, 1, 1}},  // 16: red to white
    {{0, 1, 0}, {1, 1, 1}},  // 17: green to white
    {{0, 0, 1}, {1, 1, 1}},  // 18: blue to white
    {{0, 0, 0}, {1, 1, 0}},  // 19: black to yellow
    {{0, 0, 0}, {0, 1, 1}},  // 20: black to cyan
    {{0, 0, 0}, {1, 0, 1}},  // 21: black to magenta
    {{1, 1, 1}, {0, 0, 0}},  // 22: white to black
};

struct FixedTables {
  float table[kFixedCount][kEntries][3];
};

constexpr FixedTables fixedTables() {
  FixedTables t{};
  for (int k = 0; k < kFixedCount; ++k)
    for (int i = 0; i < kEntries; ++i)
      for (int c = 0; c < 3; ++c) {
        const Ramp& r = kRamps[k];
        t.table[k][i][c] = r.from[c] + (r.to[c] - r.from[c]) * (static_cast<float>(i) / (kEntries - 1));
      }
  return t;
}

// Built by the compiler: the fixed maps live in the program's read-only data.
constexpr FixedTables kFixed = fixedTables();

const float (*table(const mlColorMap& map, int mapId))[3] {
  return mapId >= 0 && mapId < kMapIds ? map.maps[mapId] : nullptr;
}

void copyEntry(const float (*t)[3], int entry, float rgb[3]) { std::memcpy(rgb, t[entry], sizeof t[entry]); }

}  // namespace

void initColorMap(mlColorMap& map) {
  for (int i = 0; i < kEntries; ++i) {
    const float v = static_cast<float>(i) / (kEntries - 1);
    map.grey[i][0] = map.grey[i][1] = map.grey[i][2] = v;
    jetColor(map.jet[i], v);
  }
  map.maps[0] = nullptr;
  map.maps[1] = map.grey;
  map.maps[2] = map.jet;
  for (int k = 0; k < kFixedCount; ++k) map.maps[kFirstFixedId + k] = kFixed.table[k];
  map.maps[kFirstFixedId + kFixedCount] = nullptr;
}

// Four linear pieces of slope 4 over [0, 1].
void jetColor(float rgb[3], float v) {
  v = std::isnan(v) ? 0.0f : std::fmin(std::fmax(v, 0.0f), 1.0f);
  const float jet[3] = {v < 0.5f ? 0.0f : (v < 0.75f ? 4.0f * (v - 0.5f) : 1.0f),
                        v < 0.25f ? 4.0f * v : (v < 0.75f ? 1.0f : 1.0f + 4.0f * (0.75f - v)),
                        v < 0.25f ? 1.0f : (v < 0.5f ? 1.0f + 4.0f * (0.25f - v) : 0.0f)};
  std::memcpy(rgb, jet, sizeof jet);
}

void colorByIndex(const mlColorMap& map, std::uint8_t index, int mapId, float rgb[3], bool invert) {
  const float(*t)[3] = table(map, mapId);
  if (t != nullptr) copyEntry(t, invert ? 255 - index : index, rgb);
}

void colorByValue(const mlColorMap& map, int mapId, float rgb[3], bool invert, double v) {
  const float(*t)[3] = table(map, mapId);
  if (t == nullptr) return;
  // Compared before the conversion, so that no huge value (or NaN) is converted to an integer.
  const double a = std::isnan(v) ? 0.0 : std::fabs(v);
  const int k = a >= 1.0 ? 255 : static_cast<int>(a * 255.0);
  copyEntry(t, invert ? 255 - k : k, rgb);
}
