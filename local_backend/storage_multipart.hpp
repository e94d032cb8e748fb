// Reading "multipart/form-data" upload bodies as they arrive: the reader takes the body in pieces
// of any size and hands each part's headers and content to a sink, holding at most one piece and
// one delimiter in memory, so that a large file part can go straight to disk.
//
//   auto boundary = multipartBoundary(request[http::field::content_type]);   // nullopt: refuse
//   MultipartReader reader(*boundary, sink);
//   while (read(chunk)) reader.feed(chunk);    // throws MultipartError on malformed input
//   reader.finish();                           // throws when the closing delimiter never came
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace local_backend {

class MultipartError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One part's header block, names as sent, in order.
struct MultipartHeaders {
  std::vector<std::pair<std::string, std::string>> fields;

  // The value of the first field of that name (without regard to case), or nullptr.
  const std::string* find(std::string_view name) const;
};

// What the "Content-Disposition" of a part says: its form field name and its file name, if any.
struct FormDisposition {
  std::string name;
  std::optional<std::string> fileName;
};

// The boundary of a "multipart/form-data" content type (quoted or not, 1 to 70 characters);
// nullopt for any other type or a missing or malformed boundary.
std::optional<std::string> multipartBoundary(std::string_view contentType);

// The "form-data" disposition of a part's headers; nullopt when it has none or it is malformed.
// Quoted values take backslash escapes.
std::optional<FormDisposition> formDisposition(const MultipartHeaders& headers);

// Receives the parts in order. Exceptions thrown here leave the reader unusable and propagate.
class MultipartSink {
 public:
  virtual ~MultipartSink() = default;
  virtual void beginPart(const MultipartHeaders& headers) = 0;
  // A piece of the current part's content; the pieces of a part follow each other directly.
  virtual void partData(std::string_view bytes) = 0;
  virtual void endPart() = 0;
};

// A push parser of one body. Thread safety: distinct objects safe, shared objects unsafe.
// Lifetime: the sink must outlive the reader.
class MultipartReader {
 public:
  static constexpr std::size_t kMaxHeaderBytes = 8 * 1024;
  static constexpr std::size_t kMaxParts = 64;

  MultipartReader(std::string boundary, MultipartSink& sink);

  // Throws MultipartError for malformed input, a header block over kMaxHeaderBytes or more than
  // kMaxParts parts. Bytes after the closing delimiter are ignored.
  void feed(std::string_view bytes);
  // Throws MultipartError unless the closing delimiter has been read.
  void finish();

 private:
  enum class State { preamble, afterDelimiter, headers, content, done };

  void step();
  bool seekFirstDelimiter();
  bool readAfterDelimiter();
  bool readHeaders();
  bool readContent();

  std::string delimiter_;  // CRLF "--" boundary
  MultipartSink& sink_;
  std::string buffer_;
  State state_ = State::preamble;
  std::size_t parts_ = 0;
};

}  // namespace local_backend
