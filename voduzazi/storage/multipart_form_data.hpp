// MultipartFormData: the "multipart/form-data" body of an upload. Parts are text or files; file
// parts are checked when added (the first problem is kept and thrown when the body is encoded)
// and read from disk only while the body is sent.
//
//   MultipartFormData form;
//   form.append(std::make_shared<MemoryBodySource>("3600"), 4, partHeaders("cacheControl"));
//   form.append(boost::urls::url("file:///tmp/a.png"), "");    // name a.png, type image/png
//   request.headers.set(HTTPField::Name::contentType, form.contentType());
//   request.bodyStream = form.encodeStreamed();    // or Data body = form.encode();
//
// Distinct objects: safe; shared objects: unsafe. An encoded body may outlive its form.
#pragma once

#include <boost/url/url.hpp>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "voduzazi/helpers/any_json.hpp"
#include "voduzazi/helpers/body_source.hpp"
#include "voduzazi/helpers/http_fields_helpers.hpp"

namespace voduzazi::storage {

// A part that cannot be added, or content that cannot be read.
class MultipartFormDataError : public std::exception {
 public:
  enum class Reason {
    bodyPartURLInvalid,
    bodyPartFilenameInvalid,
    bodyPartFileNotReachable,
    bodyPartFileNotReachableWithError,
    bodyPartFileIsDirectory,
    bodyPartFileSizeNotAvailable,
    bodyPartFileSizeQueryFailedWithError,
    bodyPartInputStreamCreationFailed,
    outputStreamFileAlreadyExists,
    outputStreamURLInvalid,
    outputStreamCreationFailed,
    inputStreamReadFailed,
    outputStreamWriteFailed,
  };

  MultipartFormDataError(Reason reason, std::optional<boost::urls::url> url,
                         std::exception_ptr underlying = nullptr);

  Reason reason() const noexcept { return reason_; }
  // The file the part was made from, when there is one.
  const std::optional<boost::urls::url>& url() const noexcept { return url_; }
  // The error behind this one (for the "WithError" reasons and inputStreamReadFailed).
  const std::exception_ptr& underlying() const noexcept { return underlying_; }
  const char* what() const noexcept override { return message_.c_str(); }

  // A content that yields another number of bytes than its part announced.
  class UnexpectedInputStreamLength : public std::exception {
   public:
    UnexpectedInputStreamLength(std::uint64_t bytesExpected, std::uint64_t bytesRead);
    std::uint64_t bytesExpected() const noexcept { return bytesExpected_; }
    std::uint64_t bytesRead() const noexcept { return bytesRead_; }
    const char* what() const noexcept override { return message_.c_str(); }

   private:
    std::uint64_t bytesExpected_;
    std::uint64_t bytesRead_;
    std::string message_;
  };

 private:
  Reason reason_;
  std::optional<boost::urls::url> url_;
  std::exception_ptr underlying_;
  std::string message_;
};

// The fields of one part: "Content-Disposition: form-data; name="<name>"" with
// "; filename="<fileName>"" when given, and "Content-Type" when given. A double quote, CR or LF
// in the name or file name is written percent-encoded, so no text can end the quoted value or
// add a field.
HTTPFields partHeaders(std::string_view name, const std::optional<std::string>& fileName = {},
                       const std::optional<std::string>& mimeType = {});

// Each field as "<name>: <value>" CRLF, then one more CRLF.
std::string encodeHeaders(const HTTPFields& headers);

// The type for a file-name extension, "application/octet-stream" when none is known.
std::string mimeType(std::string_view pathExtension);

// The metadata as JSON text, "{}" when it cannot be written.
Data encodeMetadata(const JSONObject& metadata);

class MultipartFormData {
 public:
  struct BodyPart {
    HTTPFields headers;
    std::shared_ptr<const BodySource> bodyStream;
    std::uint64_t bodyContentLength = 0;
    bool hasInitialBoundary = false;
    bool hasFinalBoundary = false;
  };

  // A form with a fresh random boundary.
  MultipartFormData();
  // A form with the given boundary (tests compare bodies byte for byte).
  explicit MultipartFormData(std::string boundary);

  // "voduzazi.boundary." and 16 lower-case hexadecimal digits from the system's secure random
  // source.
  static std::string randomBoundary();

  // "multipart/form-data; boundary=<boundary>".
  const std::string& contentType() const noexcept { return contentType_; }
  const std::string& boundary() const noexcept { return boundary_; }
  const std::vector<BodyPart>& bodyParts() const noexcept { return bodyParts_; }
  // The first problem met while adding file parts.
  const std::optional<MultipartFormDataError>& bodyPartError() const noexcept {
    return bodyPartError_;
  }

  // A file part named by the URL's last component, typed by its extension; records
  // bodyPartFilenameInvalid when either is empty.
  void append(const boost::urls::url& fileURL, std::string_view name);
  // A file part after checking that the URL is a local, reachable, regular file of known size;
  // the first failing check is recorded and nothing is added.
  void append(const boost::urls::url& fileURL, std::string_view name, std::string_view fileName,
              std::string_view mimeType);
  // A part from a source announced as `length` bytes; no checks.
  void append(std::shared_ptr<const BodySource> stream, std::uint64_t length, HTTPFields headers);

  // The whole body in memory (empty without parts). Throws the recorded error, or
  // inputStreamReadFailed when a part's content cannot be read or has another length than
  // announced.
  Data encode();
  // The same body read piece by piece while it is sent; its size is known at once. Throws the
  // recorded error now; a reader throws inputStreamReadFailed as encode() does.
  std::shared_ptr<const BodySource> encodeStreamed();

 private:
  void record(MultipartFormDataError error);

  std::string boundary_;
  std::string contentType_;
  std::vector<BodyPart> bodyParts_;
  std::optional<MultipartFormDataError> bodyPartError_;
};

}  // namespace voduzazi::storage
