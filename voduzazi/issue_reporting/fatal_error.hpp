// fatalError: stops the program for an impossible state, after one line on standard error.
//
//   if (!slot) fatalError("Block was not run", location.filePath, location.line);
//   // stderr: "/src/x.cpp:12: Fatal error: Block was not run", then std::abort()
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace voduzazi {

// Writes "file:line: Fatal error" (then ": " and the message when it is not empty) and a line
// feed to standard error, then aborts.
[[noreturn]] void fatalError(std::string_view message, std::string_view file, std::uint32_t line);

}  // namespace voduzazi
