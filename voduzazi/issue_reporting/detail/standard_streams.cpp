#include "voduzazi/issue_reporting/detail/standard_streams.hpp"

#include <cstdio>
#include <string>

namespace voduzazi::detail {
namespace {

void writeWhole(std::FILE* stream, std::string_view text) {
  // One locked write per text; flushed so that it is out before a trap or an abort.
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

}  // namespace

void writeStandardError(std::string_view text) { writeWhole(stderr, text); }
void writeStandardOutput(std::string_view text) { writeWhole(stdout, text); }

void printError(std::string_view text) { writeStandardError(std::string(text) + "\n"); }

}  // namespace voduzazi::detail
