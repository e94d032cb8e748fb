// The stand-in backend's parser of REST query strings, logic trees above all. Input: lines of
// "key=value"; every input either parses or is refused with a RestError.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "local_backend/rest_error.hpp"
#include "local_backend/rest_query.hpp"

namespace {

int depthOf(const local_backend::LogicTree& tree) {
  int deepest = 0;
  for (const auto& nested : tree.trees) deepest = std::max(deepest, depthOf(nested));
  return deepest + 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::pair<std::string, std::string>> items;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string line = text.substr(start, end - start);
    const std::size_t equals = line.find('=');
    items.emplace_back(line.substr(0, equals),
                       equals == std::string::npos ? "" : line.substr(equals + 1));
    start = end + 1;
  }
  try {
    const auto query = local_backend::parseRestQuery(items);
    for (const auto& tree : query.logic) {
      if (depthOf(tree) > local_backend::kMaxLogicTreeDepth) __builtin_trap();
    }
  } catch (const local_backend::RestError&) {
  }
  return 0;
}
