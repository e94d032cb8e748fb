#include "voduzazi/helpers/detail/json_writer.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string_view>
#include <vector>

#include "voduzazi/helpers/json_coders.hpp"

namespace voduzazi::detail {
namespace {

class Writer {
 public:
  explicit Writer(JSONWriteOptions options) : options_(options) {}

  void value(const boost::json::value& json, CodingPath& path) {
    switch (json.kind()) {
      case boost::json::kind::null:
        out_ += "null";
        break;
      case boost::json::kind::bool_:
        out_ += json.get_bool() ? "true" : "false";
        break;
      case boost::json::kind::int64:
        out_ += std::to_string(json.get_int64());
        break;
      case boost::json::kind::uint64:
        out_ += std::to_string(json.get_uint64());
        break;
      case boost::json::kind::double_:
        number(json.get_double(), path);
        break;
      case boost::json::kind::string:
        string(json.get_string());
        break;
      case boost::json::kind::array:
        array(json.get_array(), path);
        break;
      case boost::json::kind::object:
        object(json.get_object(), path);
        break;
    }
  }

  std::string take() { return std::move(out_); }

 private:
  void number(double value, const CodingPath& path) {
    if (!std::isfinite(value)) {
      throw EncodingError(path, "Unable to encode " + formatDouble(value) + " directly in JSON.");
    }
    out_ += formatDouble(value);
  }

  void string(std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    out_ += '"';
    for (const char c : text) {
      switch (c) {
        case '"':
          out_ += "\\\"";
          break;
        case '\\':
          out_ += "\\\\";
          break;
        case '\b':
          out_ += "\\b";
          break;
        case '\f':
          out_ += "\\f";
          break;
        case '\n':
          out_ += "\\n";
          break;
        case '\r':
          out_ += "\\r";
          break;
        case '\t':
          out_ += "\\t";
          break;
        default:
          if (static_cast<unsigned char>(c) < 0x20) {
            out_ += "\\u00";
            out_ += hex[(c >> 4) & 0xF];
            out_ += hex[c & 0xF];
          } else {
            out_ += c;
          }
      }
    }
    out_ += '"';
  }

  void array(const boost::json::array& items, CodingPath& path) {
    if (items.empty()) {
      out_ += "[]";
      return;
    }
    out_ += '[';
    ++depth_;
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (i > 0) out_ += ',';
      newline();
      path.push_back("Index " + std::to_string(i));
      value(items[i], path);
      path.pop_back();
    }
    --depth_;
    newline();
    out_ += ']';
  }

  void object(const boost::json::object& members, CodingPath& path) {
    if (members.empty()) {
      out_ += "{}";
      return;
    }
    std::vector<const boost::json::key_value_pair*> order;
    order.reserve(members.size());
    for (const auto& member : members) order.push_back(&member);
    if (options_.sortedKeys) {
      std::sort(order.begin(), order.end(),
                [](const auto* a, const auto* b) { return a->key() < b->key(); });
    }
    out_ += '{';
    ++depth_;
    for (std::size_t i = 0; i < order.size(); ++i) {
      if (i > 0) out_ += ',';
      newline();
      string(order[i]->key());
      out_ += options_.prettyPrinted ? " : " : ":";
      path.emplace_back(order[i]->key());
      value(order[i]->value(), path);
      path.pop_back();
    }
    --depth_;
    newline();
    out_ += '}';
  }

  void newline() {
    if (!options_.prettyPrinted) return;
    out_ += '\n';
    out_.append(2 * depth_, ' ');
  }

  JSONWriteOptions options_;
  std::string out_;
  std::size_t depth_ = 0;
};

}  // namespace

std::string formatDouble(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  std::array<char, 64> buffer{};
  auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  std::string text(buffer.data(), end);
  if (text.find_first_of(".e") == std::string::npos) text += ".0";
  return text;
}

std::string writeJSON(const boost::json::value& json, JSONWriteOptions options) {
  Writer writer(options);
  CodingPath path;
  writer.value(json, path);
  return writer.take();
}

}  // namespace voduzazi::detail
