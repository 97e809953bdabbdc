// The launches a call makes, one line each: "kernel grid gx gy gz block bx by bz".
#pragma once

#include <string>
#include <vector>

#include "device/device.h"

namespace gputest {

template <class Call>
std::vector<std::string> launchesOf(Call call) {
  dz::device::recordLaunches(true);
  dz::device::clearLaunchLog();
  call();
  std::vector<std::string> lines;
  for (const auto& r : dz::device::launchLog())
    lines.push_back(std::string(r.kernel) + " grid " + std::to_string(r.grid.x) + " " + std::to_string(r.grid.y) + " " +
                    std::to_string(r.grid.z) + " block " + std::to_string(r.block.x) + " " + std::to_string(r.block.y) +
                    " " + std::to_string(r.block.z));
  dz::device::recordLaunches(false);
  return lines;
}

}  // namespace gputest
