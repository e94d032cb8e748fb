// AnyHashableSendable: a type-erased, immutable, hashable value, usable as a key of mixed types.
// Two values are equal when they hold the same dynamic type and equal values; integers of any
// type are one type, compared by their numbers.
//
//   std::unordered_set<AnyHashableSendable> keys{1, "1", 2.5, true};
//   AnyHashableSendable id = std::string("user");
//   id.debugDescription();   // AnyHashableSendable("user")
#pragma once

#include <concepts>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>

#include "voduzazi/concurrency/debug_description.hpp"

namespace voduzazi {

template <class T>
concept HashableValue = std::equality_comparable<T> && requires(const T& value) {
  { std::hash<T>()(value) } -> std::convertible_to<std::size_t>;
};

// The character types: integral in C++, but a character is not its code.
template <class T>
concept CharacterType = std::same_as<T, char> || std::same_as<T, wchar_t> ||
    std::same_as<T, char8_t> || std::same_as<T, char16_t> || std::same_as<T, char32_t>;

// Distinct objects: safe. Shared objects: safe (immutable).
class AnyHashableSendable {
 public:
  // Literals: booleans, integers, characters (each its own type), floating point (double) and
  // strings. An integer is held as std::int64_t, or as std::uint64_t past its range, so that
  // integers of any types are equal exactly when their numbers are.
  AnyHashableSendable(bool value) : AnyHashableSendable(Tag{}, value) {}
  template <std::integral I>
  requires(!std::same_as<I, bool> && !CharacterType<I>) AnyHashableSendable(I value)
      : AnyHashableSendable(integer(value)) {}
  template <CharacterType C>
  AnyHashableSendable(C value) : AnyHashableSendable(Tag{}, value) {}
  template <std::floating_point F>
  AnyHashableSendable(F value) : AnyHashableSendable(Tag{}, static_cast<double>(value)) {}
  AnyHashableSendable(const char* value) : AnyHashableSendable(Tag{}, std::string(value)) {}
  AnyHashableSendable(std::string value) : AnyHashableSendable(Tag{}, std::move(value)) {}

  // Any other hashable value.
  template <HashableValue T>
  requires(!std::is_arithmetic_v<T> && !std::same_as<T, std::string> &&
           !std::same_as<T, AnyHashableSendable>) explicit AnyHashableSendable(T value)
      : AnyHashableSendable(Tag{}, std::move(value)) {}

  // The wrapped value when it is a T, else nullptr.
  template <class T>
  const T* base() const {
    return type() == typeid(T) ? static_cast<const T*>(box_->address()) : nullptr;
  }
  const std::type_info& type() const { return box_->type(); }

  // The value's plain text ("a" for the string a, 42 for the integer 42).
  std::string description() const { return box_->describe(false); }
  // "AnyHashableSendable(" + the value's debug text (strings quoted) + ")".
  std::string debugDescription() const {
    return "AnyHashableSendable(" + box_->describe(true) + ")";
  }

  std::size_t hash() const { return box_->hash(); }

  friend bool operator==(const AnyHashableSendable& a, const AnyHashableSendable& b) {
    return a.type() == b.type() && a.box_->equals(*b.box_);
  }

 private:
  struct Tag {};

  class Box {
   public:
    virtual ~Box() = default;
    virtual const std::type_info& type() const = 0;
    virtual const void* address() const = 0;
    virtual bool equals(const Box& other) const = 0;  // other has the same type
    virtual std::size_t hash() const = 0;
    virtual std::string describe(bool debug) const = 0;
  };

  template <class T>
  class ValueBox final : public Box {
   public:
    explicit ValueBox(T value) : value_(std::move(value)) {}
    const std::type_info& type() const override { return typeid(T); }
    const void* address() const override { return &value_; }
    bool equals(const Box& other) const override {
      return value_ == *static_cast<const T*>(other.address());
    }
    std::size_t hash() const override { return std::hash<T>()(value_); }
    std::string describe(bool debug) const override {
      if constexpr (std::same_as<T, std::string>) {
        if (!debug) return value_;
      } else if constexpr (std::same_as<T, char>) {
        if (!debug) return std::string(1, value_);
      }
      return voduzazi::debugDescription(value_);
    }

   private:
    T value_;
  };

  template <class T>
  AnyHashableSendable(Tag, T value) : box_(std::make_shared<const ValueBox<T>>(std::move(value))) {}

  // An integer in the one of the two types that holds its number.
  template <std::integral I>
  static AnyHashableSendable integer(I value) {
    if constexpr (std::is_unsigned_v<I>) {
      if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return {Tag{}, static_cast<std::uint64_t>(value)};
      }
    }
    return {Tag{}, static_cast<std::int64_t>(value)};
  }

  std::shared_ptr<const Box> box_;
};

}  // namespace voduzazi

template <>
struct std::hash<voduzazi::AnyHashableSendable> {
  std::size_t operator()(const voduzazi::AnyHashableSendable& value) const { return value.hash(); }
};
