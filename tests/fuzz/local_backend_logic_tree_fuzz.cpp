// The stand-in's parser of "or"/"and" logic trees: any value parses or is refused with a
// RestError, and no accepted tree nests deeper than the limit or holds an empty level.
//
// Input: one byte picking the key ("or", "and", "not.or", "not.and"), then the value.
#include "local_backend/rest_error.hpp"
#include "local_backend/rest_query.hpp"
#include "tests/fuzz/fuzz_input.hpp"

using voduzazi::fuzz::FuzzInput;

namespace {

int checkedDepth(const local_backend::LogicTree& tree) {
  FUZZ_CHECK(!tree.filters.empty() || !tree.trees.empty());
  int deepest = 0;
  for (const auto& nested : tree.trees) deepest = std::max(deepest, checkedDepth(nested));
  return deepest + 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static constexpr const char* keys[] = {"or", "and", "not.or", "not.and"};
  FuzzInput in(data, size);
  const char* key = keys[in.byte() % 4];
  try {
    const auto tree = local_backend::parseLogicTree(key, in.rest());
    FUZZ_CHECK(checkedDepth(tree) <= local_backend::kMaxLogicTreeDepth);
  } catch (const local_backend::RestError&) {
  }
  return 0;
}
