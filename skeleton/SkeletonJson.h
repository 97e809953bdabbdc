// Skeleton JSON files: what a user tunes by hand and the model file does not hold (joint kinds,
// actuators, axes, limits, dynamics, spring stiffness, mimic settings, link masses, sizes and names, the
// base link and frame with their directions, marker placements), and the model they belong to. Joints
// and links always come from the model; a file only overrides their settings by name.
//
// Members are written sorted by key with 4-space indentation. Reading takes the library's access rules
// as its checks: a missing, mistyped or short entry raises the json library's parse, type or
// out-of-range error.
#pragma once

#include <nlohmann/json.hpp>

#include <memory>
#include <string>

#include "SkeletonSystem.h"

void to_json(nlohmann::json& j, const Limit& limit);
void to_json(nlohmann::json& j, const SkeletonJoint& joint);
void to_json(nlohmann::json& j, const SkeletonSystem& system);
// Readers into existing records ("name" of a joint is not read).
void from_json(const nlohmann::json& j, SkeletonJoint& joint);
// Also throws std::invalid_argument when the file renames a link to a name another link carries.
void from_json(const nlohmann::json& j, SkeletonSystem& system);

// Writes the file whole or not at all, through the project's complete-file writer (a link is written
// through, a device in place). Throws std::runtime_error naming the file and the system's reason when it
// cannot be written; std::invalid_argument for no skeleton, a path holding NUL, or a NaN or infinite
// number (named by its place in the file), which the reader could not take back.
void SkeletonToJson(const std::string& json_name, std::shared_ptr<SkeletonSystem> skeleton);
// Loads the model the file names (relative to the file's folder when it exists there, else as written),
// then applies the file. A file that cannot be opened or read throws std::filesystem::filesystem_error
// with the system's reason; the json library's errors keep their kind and name the file; values nested
// deeper than any skeleton file's throw std::runtime_error naming the file. A path, or a model path in
// the file, holding a NUL character throws std::invalid_argument.
std::shared_ptr<SkeletonSystem> skeletonFromJson(const std::string& json_name, int gpuId);
