#include "voduzazi/clocks/clock.hpp"

#include <array>
#include <charconv>

namespace voduzazi {

std::string describeDuration(Duration duration) {
  const double seconds = std::chrono::duration<double>(duration).count();
  std::array<char, 64> buffer{};
  auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), seconds);
  std::string text(buffer.data(), error == std::errc() ? end : buffer.data());
  if (text.find_first_of(".e") == std::string::npos) text += ".0";
  return text + " seconds";
}

}  // namespace voduzazi
