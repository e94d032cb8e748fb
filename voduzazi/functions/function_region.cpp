#include "voduzazi/functions/function_region.hpp"

namespace voduzazi {
namespace {

constexpr std::array<std::string_view, 14> names = {
    "ap-northeast-1", "ap-northeast-2", "ap-south-1", "ap-southeast-1", "ap-southeast-2",
    "ca-central-1",   "eu-central-1",   "eu-west-1",  "eu-west-2",      "eu-west-3",
    "sa-east-1",      "us-east-1",      "us-west-1",  "us-west-2",
};

}  // namespace

const std::array<FunctionRegion, 14>& allFunctionRegions() {
  static constexpr std::array<FunctionRegion, 14> all = {
      FunctionRegion::apNortheast1, FunctionRegion::apNortheast2, FunctionRegion::apSouth1,
      FunctionRegion::apSoutheast1, FunctionRegion::apSoutheast2, FunctionRegion::caCentral1,
      FunctionRegion::euCentral1,   FunctionRegion::euWest1,      FunctionRegion::euWest2,
      FunctionRegion::euWest3,      FunctionRegion::saEast1,      FunctionRegion::usEast1,
      FunctionRegion::usWest1,      FunctionRegion::usWest2,
  };
  return all;
}

std::string_view toString(FunctionRegion region) { return names[static_cast<std::size_t>(region)]; }

std::optional<FunctionRegion> functionRegionFromString(std::string_view text) {
  for (FunctionRegion region : allFunctionRegions()) {
    if (toString(region) == text) return region;
  }
  return std::nullopt;
}

}  // namespace voduzazi
