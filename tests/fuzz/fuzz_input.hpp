// What every fuzz target shares: splitting the fuzzer's bytes into the pieces a parser takes, and
// checking a property so that a violation is reported as a crash with its input.
//
//   FuzzInput in(data, size);
//   const std::uint8_t flags = in.byte();
//   const std::string_view name = in.field();   // up to the next NUL
//   FUZZ_CHECK(parse(write(value)) == value);
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace voduzazi::fuzz {

// A cursor over the input. Distinct objects: safe; shared objects: unsafe.
class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size)
      : rest_(reinterpret_cast<const char*>(data), size) {}

  // All bytes, whatever has been read.
  static std::string_view all(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
  }

  bool empty() const { return rest_.empty(); }

  // The next byte, 0 once the input is used up.
  std::uint8_t byte() {
    if (rest_.empty()) return 0;
    const auto value = static_cast<std::uint8_t>(rest_.front());
    rest_.remove_prefix(1);
    return value;
  }

  // The bytes up to the next NUL (or the end); the NUL is consumed.
  std::string_view field() {
    const std::size_t end = std::min(rest_.find('\0'), rest_.size());
    const std::string_view piece = rest_.substr(0, end);
    rest_.remove_prefix(std::min(end + 1, rest_.size()));
    return piece;
  }

  // The remaining NUL-separated fields; none for an empty rest.
  std::vector<std::string_view> fields() {
    std::vector<std::string_view> pieces;
    while (!rest_.empty()) pieces.push_back(field());
    return pieces;
  }

  // Every byte not read yet.
  std::string_view rest() {
    const std::string_view piece = rest_;
    rest_ = {};
    return piece;
  }

 private:
  std::string_view rest_;
};

[[noreturn]] inline void failCheck(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: property does not hold: %s\n", file, line, condition);
  std::abort();
}

}  // namespace voduzazi::fuzz

// Aborts, so that both libFuzzer and the replay driver report the input, when `condition` fails.
#define FUZZ_CHECK(condition) \
  ((condition) ? void(0) : ::voduzazi::fuzz::failCheck(#condition, __FILE__, __LINE__))
