#include "voduzazi/test_overlay/xct_expect_failure.hpp"

namespace voduzazi::test_overlay {
namespace {

void combine(std::size_t& seed, std::size_t value) {
  seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

}  // namespace

std::optional<XCTIssue::IssueType> issueTypeFromRawValue(int rawValue) {
  if (rawValue < 0 || rawValue > 5) return std::nullopt;
  return static_cast<XCTIssue::IssueType>(rawValue);
}

int rawValue(XCTIssue::IssueType type) { return static_cast<int>(type); }

std::size_t hashValue(const XCTIssue& issue) {
  std::size_t seed = 0;
  combine(seed, static_cast<std::size_t>(rawValue(issue.type)));
  combine(seed, std::hash<std::string>()(issue.compactDescription));
  combine(seed, issue.detailedDescription ? 1 : 0);
  if (issue.detailedDescription) {
    combine(seed, std::hash<std::string>()(*issue.detailedDescription));
  }
  return seed;
}

}  // namespace voduzazi::test_overlay
