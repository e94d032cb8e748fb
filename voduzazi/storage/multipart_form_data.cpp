#include "voduzazi/storage/multipart_form_data.hpp"

#include <sys/random.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <variant>

#include "voduzazi/helpers/json_coders.hpp"
#include "voduzazi/platform/mime_types.hpp"
#include "voduzazi/storage/detail/storage_paths.hpp"

namespace voduzazi::storage {
namespace {

using Reason = MultipartFormDataError::Reason;

constexpr std::array<std::string_view, 13> reasonNames{
    "bodyPartURLInvalid",
    "bodyPartFilenameInvalid",
    "bodyPartFileNotReachable",
    "bodyPartFileNotReachableWithError",
    "bodyPartFileIsDirectory",
    "bodyPartFileSizeNotAvailable",
    "bodyPartFileSizeQueryFailedWithError",
    "bodyPartInputStreamCreationFailed",
    "outputStreamFileAlreadyExists",
    "outputStreamURLInvalid",
    "outputStreamCreationFailed",
    "inputStreamReadFailed",
    "outputStreamWriteFailed",
};

std::string describe(Reason reason, const std::optional<boost::urls::url>& url,
                     const std::exception_ptr& underlying) {
  std::string message =
      "MultipartFormDataError." + std::string(reasonNames[static_cast<std::size_t>(reason)]);
  if (url) message += " (" + std::string(url->buffer()) + ")";
  try {
    if (underlying) std::rethrow_exception(underlying);
  } catch (const std::exception& error) {
    message += ": " + std::string(error.what());
  } catch (...) {
  }
  return message;
}

// A quoted parameter value cannot be ended early or broken onto a new line.
std::string quotedParameter(std::string_view text) {
  std::string escaped;
  for (const char c : text) {
    if (c == '"') {
      escaped += "%22";
    } else if (c == '\r') {
      escaped += "%0D";
    } else if (c == '\n') {
      escaped += "%0A";
    } else {
      escaped += c;
    }
  }
  return '"' + escaped + '"';
}

// The body as a sequence of fixed texts (delimiters and part headers) and part contents.
class MultipartBody final : public BodySource {
 public:
  struct Content {
    std::shared_ptr<const BodySource> source;
    std::uint64_t length;
  };
  using Segment = std::variant<std::string, Content>;

  explicit MultipartBody(std::vector<Segment> segments) : segments_(std::move(segments)) {
    for (const Segment& segment : segments_) {
      size_ += std::holds_alternative<std::string>(segment) ? std::get<std::string>(segment).size()
                                                            : std::get<Content>(segment).length;
    }
  }

  std::uint64_t size() const override { return size_; }
  std::unique_ptr<BodyReader> open() const override;

  const std::vector<Segment>& segments() const { return segments_; }

 private:
  std::vector<Segment> segments_;
  std::uint64_t size_ = 0;
};

MultipartFormDataError readFailed(std::exception_ptr error) {
  return MultipartFormDataError(Reason::inputStreamReadFailed, std::nullopt, std::move(error));
}

MultipartFormDataError lengthMismatch(std::uint64_t expected, std::uint64_t read) {
  return readFailed(
      std::make_exception_ptr(MultipartFormDataError::UnexpectedInputStreamLength(expected, read)));
}

class MultipartReader final : public BodyReader {
 public:
  explicit MultipartReader(const MultipartBody& body) : body_(body) {}

  std::size_t read(char* buffer, std::size_t capacity) override {
    const auto& segments = body_.segments();
    while (index_ < segments.size()) {
      const std::size_t count =
          std::visit([&](const auto& segment) { return readFrom(segment, buffer, capacity); },
                     segments[index_]);
      if (count > 0) return count;
      ++index_;
      offset_ = 0;
      content_.reset();
    }
    return 0;
  }

 private:
  std::size_t readFrom(const std::string& text, char* buffer, std::size_t capacity) {
    const std::size_t count = std::min<std::size_t>(capacity, text.size() - offset_);
    std::copy_n(text.data() + offset_, count, buffer);
    offset_ += count;
    return count;
  }

  // Never more than the announced length; the end of the content is checked against it.
  std::size_t readFrom(const MultipartBody::Content& content, char* buffer, std::size_t capacity) {
    try {
      if (!content_) content_ = content.source->open();
      const std::uint64_t left = content.length - offset_;
      if (left == 0) {
        checkEnded(content.length);
        return 0;
      }
      const std::size_t count =
          content_->read(buffer, static_cast<std::size_t>(std::min<std::uint64_t>(capacity, left)));
      if (count == 0) throw lengthMismatch(content.length, offset_);
      offset_ += count;
      return count;
    } catch (const MultipartFormDataError&) {
      throw;
    } catch (...) {
      throw readFailed(std::current_exception());
    }
  }

  void checkEnded(std::uint64_t expected) {
    std::uint64_t extra = 0;
    char scratch[4096];
    while (const std::size_t count = content_->read(scratch, sizeof scratch)) extra += count;
    if (extra > 0) throw lengthMismatch(expected, expected + extra);
  }

  const MultipartBody& body_;
  std::size_t index_ = 0;
  std::uint64_t offset_ = 0;
  std::unique_ptr<BodyReader> content_;
};

std::unique_ptr<BodyReader> MultipartBody::open() const {
  return std::make_unique<MultipartReader>(*this);
}

std::optional<std::filesystem::path> localPath(const boost::urls::url& url) {
  if (url.scheme_id() != boost::urls::scheme::file) return std::nullopt;
  return std::filesystem::path(url.path());
}

}  // namespace

MultipartFormDataError::MultipartFormDataError(Reason reason, std::optional<boost::urls::url> url,
                                               std::exception_ptr underlying)
    : reason_(reason),
      url_(std::move(url)),
      underlying_(std::move(underlying)),
      message_(describe(reason_, url_, underlying_)) {}

MultipartFormDataError::UnexpectedInputStreamLength::UnexpectedInputStreamLength(
    std::uint64_t bytesExpected, std::uint64_t bytesRead)
    : bytesExpected_(bytesExpected),
      bytesRead_(bytesRead),
      message_("Expected " + std::to_string(bytesExpected) + " bytes, read " +
               std::to_string(bytesRead)) {}

HTTPFields partHeaders(std::string_view name, const std::optional<std::string>& fileName,
                       const std::optional<std::string>& mimeType) {
  std::string disposition = "form-data; name=" + quotedParameter(name);
  if (fileName) disposition += "; filename=" + quotedParameter(*fileName);
  HTTPFields headers;
  headers.append(HTTPField(HTTPField::Name::contentDisposition, disposition));
  if (mimeType) headers.append(HTTPField(HTTPField::Name::contentType, *mimeType));
  return headers;
}

std::string encodeHeaders(const HTTPFields& headers) {
  std::string block;
  for (const HTTPField& field : headers) {
    block.append(field.name().rawName()).append(": ").append(field.value()).append("\r\n");
  }
  return block + "\r\n";
}

std::string mimeType(std::string_view pathExtension) {
  return preferredMIMEType(pathExtension).value_or("application/octet-stream");
}

Data encodeMetadata(const JSONObject& metadata) {
  try {
    return AnyJSON::encoder()->encode(AnyJSON(metadata));
  } catch (const EncodingError&) {
    return "{}";
  }
}

MultipartFormData::MultipartFormData() : MultipartFormData(randomBoundary()) {}

MultipartFormData::MultipartFormData(std::string boundary)
    : boundary_(std::move(boundary)), contentType_("multipart/form-data; boundary=" + boundary_) {}

std::string MultipartFormData::randomBoundary() {
  std::array<std::uint32_t, 2> values{};
  auto* bytes = reinterpret_cast<char*>(values.data());
  for (std::size_t done = 0; done < sizeof values;) {
    const ssize_t got = getrandom(bytes + done, sizeof values - done, 0);
    if (got < 0 && errno != EINTR) throw std::system_error(errno, std::generic_category());
    if (got > 0) done += static_cast<std::size_t>(got);
  }
  char text[64];
  std::snprintf(text, sizeof text, "voduzazi.boundary.%08x%08x", values[0], values[1]);
  return text;
}

void MultipartFormData::record(MultipartFormDataError error) {
  if (!bodyPartError_) bodyPartError_.emplace(std::move(error));
}

void MultipartFormData::append(const boost::urls::url& fileURL, std::string_view name) {
  const std::string fileName = detail::lastPathComponent(fileURL.path());
  const std::string extension = detail::pathExtension(fileURL.path());
  if (fileName.empty() || extension.empty()) {
    record(MultipartFormDataError(Reason::bodyPartFilenameInvalid, fileURL));
    return;
  }
  append(fileURL, name, fileName, mimeType(extension));
}

void MultipartFormData::append(const boost::urls::url& fileURL, std::string_view name,
                               std::string_view fileName, std::string_view mimeType) {
  HTTPFields headers = partHeaders(name, std::string(fileName), std::string(mimeType));
  const std::optional<std::filesystem::path> path = localPath(fileURL);
  if (!path) return record(MultipartFormDataError(Reason::bodyPartURLInvalid, fileURL));
  std::error_code error;
  const auto status = std::filesystem::status(*path, error);
  if (error && error != std::errc::no_such_file_or_directory) {
    return record(MultipartFormDataError(Reason::bodyPartFileNotReachableWithError, fileURL,
                                         std::make_exception_ptr(std::system_error(error))));
  }
  if (!std::filesystem::exists(status)) {
    return record(MultipartFormDataError(Reason::bodyPartFileNotReachable, fileURL));
  }
  if (std::filesystem::is_directory(status)) {
    return record(MultipartFormDataError(Reason::bodyPartFileIsDirectory, fileURL));
  }
  std::shared_ptr<FileBodySource> source;
  try {
    source = FileBodySource::open(*path);
  } catch (const BodySourceError&) {
    return record(MultipartFormDataError(Reason::bodyPartInputStreamCreationFailed, fileURL,
                                         std::current_exception()));
  }
  append(source, source->size(), std::move(headers));
}

void MultipartFormData::append(std::shared_ptr<const BodySource> stream, std::uint64_t length,
                               HTTPFields headers) {
  bodyParts_.push_back(BodyPart{std::move(headers), std::move(stream), length});
}

std::shared_ptr<const BodySource> MultipartFormData::encodeStreamed() {
  if (bodyPartError_) throw *bodyPartError_;
  std::vector<MultipartBody::Segment> segments;
  if (!bodyParts_.empty()) {
    bodyParts_.front().hasInitialBoundary = true;
    bodyParts_.back().hasFinalBoundary = true;
  }
  for (const BodyPart& part : bodyParts_) {
    const std::string opening = (part.hasInitialBoundary ? "--" : "\r\n--") + boundary_ + "\r\n";
    segments.emplace_back(opening + encodeHeaders(part.headers));
    segments.emplace_back(MultipartBody::Content{part.bodyStream, part.bodyContentLength});
    if (part.hasFinalBoundary) segments.emplace_back("\r\n--" + boundary_ + "--\r\n");
  }
  return std::make_shared<MultipartBody>(std::move(segments));
}

Data MultipartFormData::encode() { return readAll(*encodeStreamed()); }

}  // namespace voduzazi::storage
