// Helpers shared by the skeleton system tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "MeshLoad/meshTestUtil.h"
#include "skeleton/SkeletonSystem.h"

// A fresh, empty folder of this test's own.
inline std::string testFolder() {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  const std::filesystem::path dir =
      testsupport::tempPath(std::string("skel_") + info->test_suite_name() + "_" + info->name());
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string() + "/";
}

using Names = std::vector<std::string>;

template <class T>
Names namesOf(const T& records) {
  Names names;
  for (const auto& r : records) names.push_back(r->name);
  return names;
}
