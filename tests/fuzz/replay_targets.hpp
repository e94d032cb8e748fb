// The fuzz targets linked into the replay executable, by name: each target's entry (its
// LLVMFuzzerTestOneInput, renamed at compile time). cmake/fuzz.cmake generates the table.
//
//   for (const ReplayTarget& target : replayTargets())
//     if (target.name == "helpers_sdk_date") target.oneInput(data, size);
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace voduzazi::fuzz {

struct ReplayTarget {
  std::string_view name;
  int (*oneInput)(const std::uint8_t* data, std::size_t size);
};

// Every target, in the order tests/fuzz/CMakeLists.txt declares them.
std::span<const ReplayTarget> replayTargets();

}  // namespace voduzazi::fuzz
