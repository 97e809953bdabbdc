// Helpers shared by the skeleton system tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "MeshLoad/meshTestUtil.h"
#include "skeleton/SkeletonSystem.h"

inline const std::string kModels = DZ_TEST_MODELS_DIR;

// A fresh, empty folder of this test's own.
inline std::string testFolder() {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  const std::filesystem::path dir =
      std::filesystem::path(testing::TempDir()) / (std::string("skel_") + info->test_suite_name() + "_" + info->name());
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string() + "/";
}

template <class T>
std::set<std::string> namesOf(const T& records) {
  std::set<std::string> names;
  for (const auto& r : records) names.insert(r->name);
  return names;
}
