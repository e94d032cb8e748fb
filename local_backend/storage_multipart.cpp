#include "local_backend/storage_multipart.hpp"

#include <algorithm>
#include <cctype>

namespace local_backend {

namespace {

constexpr std::string_view kCrlf = "\r\n";

bool equalsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool isTokenChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u > 32 && u < 127 &&
         std::string_view("()<>@,;:\\\"/[]?={}").find(c) == std::string_view::npos;
}

// The parameters of a header value "type; a=b; c=\"d\"": the leading value, then name and value
// pairs (names lower-cased). nullopt when the syntax is broken.
struct HeaderValue {
  std::string value;
  std::vector<std::pair<std::string, std::string>> parameters;

  const std::string* find(std::string_view name) const {
    for (const auto& [key, text] : parameters) {
      if (key == name) return &text;
    }
    return nullptr;
  }
};

std::optional<std::string> quotedString(std::string_view& rest) {
  std::string value;
  rest.remove_prefix(1);  // the opening quote
  while (!rest.empty()) {
    const char c = rest.front();
    rest.remove_prefix(1);
    if (c == '"') return value;
    if (c == '\\') {
      if (rest.empty()) return std::nullopt;
      value += rest.front();
      rest.remove_prefix(1);
    } else if (c == '\r' || c == '\n') {
      return std::nullopt;
    } else {
      value += c;
    }
  }
  return std::nullopt;
}

std::optional<HeaderValue> parseHeaderValue(std::string_view text) {
  HeaderValue parsed;
  const auto semicolon = text.find(';');
  parsed.value = std::string(trim(text.substr(0, semicolon)));
  std::string_view rest = semicolon == std::string_view::npos ? "" : text.substr(semicolon);
  while (!rest.empty()) {
    rest = trim(rest);
    if (rest.empty()) break;
    if (rest.front() != ';') return std::nullopt;
    rest = trim(rest.substr(1));
    if (rest.empty()) break;  // a trailing ";"
    const auto equals = rest.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string_view name = trim(rest.substr(0, equals));
    if (name.empty() || !std::all_of(name.begin(), name.end(), isTokenChar)) return std::nullopt;
    rest = trim(rest.substr(equals + 1));
    std::string value;
    if (!rest.empty() && rest.front() == '"') {
      auto quoted = quotedString(rest);
      if (!quoted) return std::nullopt;
      value = std::move(*quoted);
    } else {
      const auto end = std::min(rest.find(';'), rest.size());
      value = std::string(trim(rest.substr(0, end)));
      rest.remove_prefix(end);
    }
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    parsed.parameters.emplace_back(std::move(lower), std::move(value));
  }
  return parsed;
}

std::optional<MultipartHeaders> parseHeaderBlock(std::string_view block) {
  MultipartHeaders headers;
  while (!block.empty()) {
    const auto end = std::min(block.find(kCrlf), block.size());
    const std::string_view line = block.substr(0, end);
    block.remove_prefix(std::min(end + kCrlf.size(), block.size()));
    const auto colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    const std::string_view name = line.substr(0, colon);
    if (!std::all_of(name.begin(), name.end(), isTokenChar)) return std::nullopt;
    const std::string_view value = trim(line.substr(colon + 1));
    if (value.find_first_of("\r\n") != std::string_view::npos) return std::nullopt;
    headers.fields.emplace_back(std::string(name), std::string(value));
  }
  return headers;
}

}  // namespace

const std::string* MultipartHeaders::find(std::string_view name) const {
  for (const auto& [key, value] : fields) {
    if (equalsNoCase(key, name)) return &value;
  }
  return nullptr;
}

std::optional<std::string> multipartBoundary(std::string_view contentType) {
  const auto parsed = parseHeaderValue(contentType);
  if (!parsed || !equalsNoCase(parsed->value, "multipart/form-data")) return std::nullopt;
  const std::string* boundary = parsed->find("boundary");
  if (boundary == nullptr || boundary->empty() || boundary->size() > 70) return std::nullopt;
  const bool printable = std::all_of(boundary->begin(), boundary->end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 32 && u < 127;
  });
  if (!printable || boundary->back() == ' ') return std::nullopt;
  return *boundary;
}

std::optional<FormDisposition> formDisposition(const MultipartHeaders& headers) {
  const std::string* text = headers.find("Content-Disposition");
  if (text == nullptr) return std::nullopt;
  const auto parsed = parseHeaderValue(*text);
  if (!parsed || !equalsNoCase(parsed->value, "form-data")) return std::nullopt;
  const std::string* name = parsed->find("name");
  if (name == nullptr) return std::nullopt;
  FormDisposition disposition{*name, std::nullopt};
  if (const std::string* fileName = parsed->find("filename")) disposition.fileName = *fileName;
  return disposition;
}

MultipartReader::MultipartReader(std::string boundary, MultipartSink& sink)
    : delimiter_("\r\n--" + std::move(boundary)), sink_(sink), buffer_(kCrlf) {}
// The body may open with the delimiter itself: a CRLF in front lets one search find both.

void MultipartReader::feed(std::string_view bytes) {
  if (state_ == State::done) return;
  buffer_.append(bytes);
  step();
}

void MultipartReader::finish() {
  if (state_ != State::done) throw MultipartError("the multipart body ends before its last part");
}

void MultipartReader::step() {
  for (;;) {
    bool progressed = false;
    switch (state_) {
      case State::preamble:
        progressed = seekFirstDelimiter();
        break;
      case State::afterDelimiter:
        progressed = readAfterDelimiter();
        break;
      case State::headers:
        progressed = readHeaders();
        break;
      case State::content:
        progressed = readContent();
        break;
      case State::done:
        buffer_.clear();
        return;
    }
    if (!progressed) return;
  }
}

bool MultipartReader::seekFirstDelimiter() {
  const auto found = buffer_.find(delimiter_);
  if (found == std::string::npos) {
    // Keep only what could be the start of the delimiter.
    const std::size_t keep = std::min(buffer_.size(), delimiter_.size() - 1);
    buffer_.erase(0, buffer_.size() - keep);
    return false;
  }
  buffer_.erase(0, found + delimiter_.size());
  state_ = State::afterDelimiter;
  return true;
}

bool MultipartReader::readAfterDelimiter() {
  // Transport padding: blanks between the boundary and its line end.
  const auto text = buffer_.find_first_not_of(" \t");
  if (text == std::string::npos) {
    buffer_.clear();
    return false;
  }
  buffer_.erase(0, text);
  if (buffer_.size() < 2) return false;
  if (buffer_.compare(0, 2, "--") == 0) {
    state_ = State::done;
    return true;
  }
  if (buffer_.compare(0, 2, kCrlf) != 0) {
    throw MultipartError("a multipart delimiter is not followed by a line end");
  }
  buffer_.erase(0, 2);
  state_ = State::headers;
  return true;
}

bool MultipartReader::readHeaders() {
  std::size_t blockEnd = 0;
  std::size_t skip = 0;
  if (buffer_.size() >= 2 && buffer_.compare(0, 2, kCrlf) == 0) {
    skip = 2;  // no header fields at all
  } else {
    const auto found = buffer_.find("\r\n\r\n");
    if (found == std::string::npos) {
      if (buffer_.size() > kMaxHeaderBytes) throw MultipartError("a part's headers are too long");
      return false;
    }
    blockEnd = found;
    skip = found + 4;
  }
  if (blockEnd > kMaxHeaderBytes) throw MultipartError("a part's headers are too long");
  auto headers = parseHeaderBlock(std::string_view(buffer_).substr(0, blockEnd));
  if (!headers) throw MultipartError("a part's headers are malformed");
  if (++parts_ > kMaxParts) throw MultipartError("the multipart body has too many parts");
  buffer_.erase(0, skip);
  state_ = State::content;
  sink_.beginPart(*headers);
  return true;
}

bool MultipartReader::readContent() {
  const auto found = buffer_.find(delimiter_);
  if (found == std::string::npos) {
    const std::size_t keep = std::min(buffer_.size(), delimiter_.size() - 1);
    const std::size_t ready = buffer_.size() - keep;
    if (ready > 0) {
      sink_.partData(std::string_view(buffer_).substr(0, ready));
      buffer_.erase(0, ready);
    }
    return false;
  }
  if (found > 0) sink_.partData(std::string_view(buffer_).substr(0, found));
  buffer_.erase(0, found + delimiter_.size());
  sink_.endPart();
  state_ = State::afterDelimiter;
  return true;
}

}  // namespace local_backend
