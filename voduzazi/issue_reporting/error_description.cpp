#include "voduzazi/issue_reporting/error_description.hpp"

#include <cxxabi.h>

#include "voduzazi/concurrency/debug_description.hpp"

namespace voduzazi {
namespace {

// Keeps the description of an error whose dynamic type could not be captured.
class DescribedError : public std::exception {
 public:
  explicit DescribedError(std::string text) : text_(std::move(text)) {}
  const char* what() const noexcept override { return text_.c_str(); }

 private:
  std::string text_;
};

}  // namespace

std::string describeError(const std::exception_ptr& error) {
  if (!error) return "nil";
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (const std::string& text) {
    return text;
  } catch (const char* text) {
    return text ? text : "nil";
  } catch (...) {
    const std::type_info* type = abi::__cxa_current_exception_type();
    return type ? typeName(*type) : "unknown error";
  }
}

std::exception_ptr captureError(const std::exception& error) {
  if (std::exception_ptr handled = std::current_exception()) {
    try {
      std::rethrow_exception(handled);
    } catch (const std::exception& current) {
      if (&current == &error) return handled;
    } catch (...) {
    }
  }
  return std::make_exception_ptr(DescribedError(error.what()));
}

}  // namespace voduzazi
