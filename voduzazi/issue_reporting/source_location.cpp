#include "voduzazi/issue_reporting/source_location.hpp"

namespace voduzazi {

std::string fileIDFromPath(const std::string& path) {
  const auto last = path.find_last_of('/');
  if (last == std::string::npos || last == 0) return path;
  const auto previous = path.find_last_of('/', last - 1);
  return previous == std::string::npos ? path : path.substr(previous + 1);
}

SourceLocation SourceLocation::current(std::source_location at) {
  return SourceLocation{fileIDFromPath(at.file_name()), at.file_name(), at.line(), at.column()};
}

FunctionLocation FunctionLocation::current(std::source_location at) {
  return FunctionLocation{at.function_name(), SourceLocation::current(at)};
}

}  // namespace voduzazi
