// Writes the test models into the folder given as the only argument: bar.fbx, creature.fbx, hips.fbx,
// substring.fbx and fish.fbx.
#include <cstdio>
#include <exception>
#include <string>

#include "testModels.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  try {
    testmodels::writeFbx(*testmodels::makeBarScene(), folder + "/bar.fbx");
    testmodels::writeFbx(*testmodels::makeCreatureScene(), folder + "/creature.fbx");
    testmodels::writeFbx(*testmodels::makeHipsScene(), folder + "/hips.fbx");
    testmodels::writeFbx(*testmodels::makeSubstringScene(), folder + "/substring.fbx");
    testmodels::writeFbx(*testmodels::makeFishScene(), folder + "/fish.fbx");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
