#include "voduzazi/helpers/detail/json_parser.hpp"

#include <boost/json/basic_parser_impl.hpp>
#include <boost/json/value_stack.hpp>
#include <charconv>
#include <string>

namespace voduzazi::detail {
namespace {

using boost::json::string_view;
using ErrorCode = boost::system::error_code;

// Builds the value tree as Boost.JSON's own parser does, except for doubles: Boost's conversion
// is not correctly rounded, so the number's text is converted again with std::from_chars.
class TreeBuilder {
 public:
  static constexpr std::size_t max_object_size = boost::json::object::max_size();
  static constexpr std::size_t max_array_size = boost::json::array::max_size();
  static constexpr std::size_t max_key_size = boost::json::string::max_size();
  static constexpr std::size_t max_string_size = boost::json::string::max_size();

  boost::json::value_stack stack;

  bool on_document_begin(ErrorCode&) { return true; }
  bool on_document_end(ErrorCode&) { return true; }
  bool on_object_begin(ErrorCode&) { return true; }
  bool on_object_end(std::size_t n, ErrorCode&) {
    stack.push_object(n);
    return true;
  }
  bool on_array_begin(ErrorCode&) { return true; }
  bool on_array_end(std::size_t n, ErrorCode&) {
    stack.push_array(n);
    return true;
  }
  bool on_key_part(string_view s, std::size_t, ErrorCode&) {
    stack.push_chars(s);
    return true;
  }
  bool on_key(string_view s, std::size_t, ErrorCode&) {
    stack.push_key(s);
    return true;
  }
  bool on_string_part(string_view s, std::size_t, ErrorCode&) {
    stack.push_chars(s);
    return true;
  }
  bool on_string(string_view s, std::size_t, ErrorCode&) {
    stack.push_string(s);
    return true;
  }
  bool on_number_part(string_view s, ErrorCode&) {
    number_.append(s.data(), s.size());
    return true;
  }
  bool on_int64(std::int64_t i, string_view, ErrorCode&) {
    number_.clear();
    stack.push_int64(i);
    return true;
  }
  bool on_uint64(std::uint64_t u, string_view, ErrorCode&) {
    number_.clear();
    stack.push_uint64(u);
    return true;
  }
  bool on_double(double d, string_view s, ErrorCode&) {
    number_.append(s.data(), s.size());
    // Out of range (a magnitude past the largest double, or below the smallest): keep Boost's
    // infinity or zero.
    double exact = 0;
    const char* last = number_.data() + number_.size();
    const auto [end, status] = std::from_chars(number_.data(), last, exact);
    if (status == std::errc() && end == last) d = exact;
    number_.clear();
    stack.push_double(d);
    return true;
  }
  bool on_bool(bool b, ErrorCode&) {
    stack.push_bool(b);
    return true;
  }
  bool on_null(ErrorCode&) {
    stack.push_null();
    return true;
  }
  bool on_comment_part(string_view, ErrorCode&) { return true; }
  bool on_comment(string_view, ErrorCode&) { return true; }

 private:
  std::string number_;
};

}  // namespace

boost::json::value parseJSON(std::string_view text, ErrorCode& error, std::size_t maxDepth) {
  boost::json::parse_options options;
  options.max_depth = maxDepth;
  boost::json::basic_parser<TreeBuilder> parser(options);
  parser.handler().stack.reset();
  const std::size_t used = parser.write_some(false, text.data(), text.size(), error);
  if (!error && used < text.size()) error = boost::json::error::extra_data;
  if (error) return nullptr;
  return parser.handler().stack.release();
}

}  // namespace voduzazi::detail
