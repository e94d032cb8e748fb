#include "voduzazi/issue_reporting/detail/process_info.hpp"

#include <execinfo.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

extern char** environ;

namespace voduzazi::detail {
namespace {

std::string readWholeFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

Environment processEnvironment() {
  Environment environment;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const auto equals = text.find('=');
    if (equals == std::string_view::npos) continue;
    environment.emplace(text.substr(0, equals), text.substr(equals + 1));
  }
  return environment;
}

std::optional<std::string> environmentValue(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::vector<std::string> processArguments() {
  const std::string text = readWholeFile("/proc/self/cmdline");
  std::vector<std::string> arguments;
  std::size_t start = 0;
  while (start < text.size()) {
    const auto end = text.find('\0', start);
    const auto stop = end == std::string::npos ? text.size() : end;
    arguments.push_back(text.substr(start, stop - start));
    start = stop + 1;
  }
  return arguments;
}

long tracerPidFromStatus(std::string_view status) {
  constexpr std::string_view field = "TracerPid:";
  std::size_t at = 0;
  while (at < status.size()) {
    auto end = status.find('\n', at);
    if (end == std::string_view::npos) end = status.size();
    const std::string_view line = status.substr(at, end - at);
    if (line.starts_with(field)) {
      return std::strtol(std::string(line.substr(field.size())).c_str(), nullptr, 10);
    }
    at = end + 1;
  }
  return 0;
}

bool isDebuggerAttached() { return tracerPidFromStatus(readWholeFile("/proc/self/status")) != 0; }

std::vector<std::string> callStackSymbols() {
  void* frames[128];
  const int count = backtrace(frames, 128);
  std::unique_ptr<char*, decltype(&std::free)> symbols(backtrace_symbols(frames, count),
                                                       &std::free);
  if (!symbols) return {};
  return std::vector<std::string>(symbols.get(), symbols.get() + count);
}

}  // namespace voduzazi::detail
