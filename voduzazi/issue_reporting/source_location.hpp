// SourceLocation: where an issue is reported from (file id, file path, line, column).
//
//   void check(SourceLocation at = SourceLocation::current()) {
//     reportIssue("Unexpected value", at);   // at.fileID is like "clocks/test_clock.cpp"
//   }
#pragma once

#include <cstdint>
#include <source_location>
#include <string>

namespace voduzazi {

struct SourceLocation {
  std::string fileID;    // the last two path components, e.g. "Clocks/UnimplementedClock"
  std::string filePath;  // the full path
  std::uint32_t line = 0;
  std::uint32_t column = 0;

  static SourceLocation current(std::source_location at = std::source_location::current());

  friend bool operator==(const SourceLocation&, const SourceLocation&) = default;
};

// The last two components of a path ("a/b/c.cpp" gives "b/c.cpp").
std::string fileIDFromPath(const std::string& path);

}  // namespace voduzazi
