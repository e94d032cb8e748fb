// SourceLocation: where an issue is reported from (file id, file path, line, column), and
// FunctionLocation: the same plus the name of the enclosing function.
//
//   void check(SourceLocation at = SourceLocation::current()) {
//     reportIssue("Unexpected value", at);   // at.fileID is like "clocks/test_clock.cpp"
//   }
//   FunctionLocation site = FunctionLocation::current();   // site.function is "void load()"
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

// A source location and the function it lies in, as placeholders name the place they were made.
struct FunctionLocation {
  std::string function;
  SourceLocation location;

  static FunctionLocation current(std::source_location at = std::source_location::current());

  friend bool operator==(const FunctionLocation&, const FunctionLocation&) = default;
};

// The last two components of a path ("a/b/c.cpp" gives "b/c.cpp").
std::string fileIDFromPath(const std::string& path);

}  // namespace voduzazi
