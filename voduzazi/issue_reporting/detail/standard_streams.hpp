// Whole-text writes to the standard streams, so that lines from different threads never mix.
#pragma once

#include <string_view>

namespace voduzazi::detail {

void writeStandardError(std::string_view text);
void writeStandardOutput(std::string_view text);

// The text and a line feed, to standard error (the bridge's fallback messages).
void printError(std::string_view text);

}  // namespace voduzazi::detail
