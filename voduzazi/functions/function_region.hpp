// FunctionRegion: the regions an edge function can be asked to run in, with their wire names.
//
//   FunctionRegion region = FunctionRegion::euWest2;
//   std::string_view text = toString(region);                 // "eu-west-2"
//   std::optional<FunctionRegion> parsed = functionRegionFromString("us-east-1");
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace voduzazi {

enum class FunctionRegion {
  apNortheast1,
  apNortheast2,
  apSouth1,
  apSoutheast1,
  apSoutheast2,
  caCentral1,
  euCentral1,
  euWest1,
  euWest2,
  euWest3,
  saEast1,
  usEast1,
  usWest1,
  usWest2,
};

// Every case, in declaration order.
const std::array<FunctionRegion, 14>& allFunctionRegions();
std::string_view toString(FunctionRegion region);
// Nothing for a text that names no region (compared letter for letter).
std::optional<FunctionRegion> functionRegionFromString(std::string_view text);

}  // namespace voduzazi
