#include "voduzazi/test_overlay/unimplemented.hpp"

#include "voduzazi/concurrency/debug_description.hpp"

namespace voduzazi::test_overlay {

std::string missingPlaceholderText(const std::string& description) {
  return "unimplemented(" + (description.empty() ? std::string() : quotedDescription(description)) +
         ")\n\nTo suppress this crash, provide an explicit \"placeholder\".";
}

}  // namespace voduzazi::test_overlay
