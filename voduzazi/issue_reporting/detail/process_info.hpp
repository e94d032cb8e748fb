// What the process knows about itself: environment, arguments, a tracing debugger, its stack.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace voduzazi::detail {

using Environment = std::map<std::string, std::string, std::less<>>;

// The environment as it is now.
Environment processEnvironment();
// The value of one environment variable, read now.
std::optional<std::string> environmentValue(const char* name);
// The arguments the process was started with, the program path first (/proc/self/cmdline).
std::vector<std::string> processArguments();

// True when a debugger traces the process (a non-zero "TracerPid" in /proc/self/status); false
// when that cannot be read.
bool isDebuggerAttached();
// The tracer's process id from the text of /proc/<pid>/status; 0 when the field is missing.
long tracerPidFromStatus(std::string_view status);

// One symbol line per frame of the calling thread's stack, innermost first.
std::vector<std::string> callStackSymbols();

}  // namespace voduzazi::detail
