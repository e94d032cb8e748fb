#include "voduzazi/issue_reporting/fatal_error.hpp"

#include <cstdlib>

#include "voduzazi/issue_reporting/detail/standard_streams.hpp"

namespace voduzazi {
namespace {

std::string fatalErrorText(std::string_view message, std::string_view file, std::uint32_t line) {
  std::string text = std::string(file) + ":" + std::to_string(line) + ": Fatal error";
  if (!message.empty()) text += ": " + std::string(message);
  return text;
}

}  // namespace

void fatalError(std::string_view message, std::string_view file, std::uint32_t line) {
  detail::printError(fatalErrorText(message, file, line));
  std::abort();
}

}  // namespace voduzazi
