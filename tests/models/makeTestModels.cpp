// Writes the test models into the folder given as the only argument: bar.fbx, creature.fbx, hips.fbx,
// substring.fbx, fork.fbx and fish.fbx.
#include <cstdio>
#include <exception>
#include <string>

#include "testModels.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
    return 2;
  }
  const std::pair<const char*, std::unique_ptr<aiScene> (*)()> models[] = {
      {"bar", testmodels::makeBarScene},   {"creature", testmodels::makeCreatureScene},
      {"hips", testmodels::makeHipsScene}, {"substring", testmodels::makeSubstringScene},
      {"fork", testmodels::makeForkScene}, {"fish", testmodels::makeFishScene}};
  try {
    for (const auto& [name, make] : models) testmodels::writeFbx(*make(), std::string(argv[1]) + "/" + name + ".fbx");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
