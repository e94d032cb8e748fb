#include "local_backend/storage_upload.hpp"

#include <algorithm>
#include <boost/json/parse.hpp>
#include <fstream>

#include "local_backend/storage_error.hpp"
#include "local_backend/storage_multipart.hpp"

namespace local_backend {

namespace json = boost::json;

namespace {

constexpr std::size_t kMaxFieldBytes = 64 * 1024;
constexpr std::string_view kDefaultCacheControl = "max-age=3600";

std::string headerOf(const Request& request, http::field field) {
  const auto it = request.find(field);
  return it == request.end() ? std::string() : std::string(it->value());
}

// The MIME type without parameters, lower-cased.
std::string essenceOf(std::string_view contentType) {
  std::string essence(contentType.substr(0, contentType.find(';')));
  essence.erase(0, essence.find_first_not_of(" \t"));
  essence.erase(essence.find_last_not_of(" \t") + 1);
  std::transform(essence.begin(), essence.end(), essence.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return essence;
}

// Stored values come back as response headers of every download: a control character (a line
// break above all) would end the header and let the uploader write headers of their own.
void checkHeaderValue(std::string_view what, std::string_view value) {
  const bool clean = std::none_of(value.begin(), value.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u < 0x20 && c != '\t') || u == 0x7f;
  });
  if (!clean) {
    throw StorageError::invalidRequest("The " + std::string(what) + " holds control characters");
  }
}

}  // namespace

void checkMimeType(const BucketRecord& bucket, std::string_view contentType) {
  if (!bucket.allowedMimeTypes || bucket.allowedMimeTypes->empty()) return;
  const std::string essence = essenceOf(contentType);
  for (const auto& allowed : *bucket.allowedMimeTypes) {
    const std::string pattern = essenceOf(allowed);
    if (pattern == essence) return;
    if (pattern.size() > 2 && pattern.substr(pattern.size() - 2) == "/*" &&
        essence.starts_with(pattern.substr(0, pattern.size() - 1))) {
      return;
    }
  }
  throw StorageError(http::status::unsupported_media_type, "invalid_mime_type",
                     "mime type " + essence + " is not supported");
}

// A file field "3600" means seconds; anything else is a ready header value.
std::string cacheControlOf(std::string_view value) {
  if (value.empty()) return std::string(kDefaultCacheControl);
  if (std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return "max-age=" + std::string(value);
  }
  return std::string(value);
}

namespace {

// Collects the form fields and writes the file part of a multipart upload to a staged file.
class UploadSink : public MultipartSink {
 public:
  UploadSink(const BucketRecord& bucket, const std::filesystem::path& folder, std::uint64_t limit)
      : bucket_(bucket), folder_(folder), limit_(limit) {}

  void beginPart(const MultipartHeaders& headers) override {
    const auto disposition = formDisposition(headers);
    if (!disposition) throw MultipartError("a part has no form-data disposition");
    field_ = disposition->name;
    value_.clear();
    // The file is the part with a file name, or the one named "".
    inFile_ = disposition->fileName.has_value() || disposition->name.empty();
    if (!inFile_) return;
    if (file_) throw MultipartError("the form holds more than one file");
    const std::string* type = headers.find("Content-Type");
    contentType_ = type != nullptr ? *type : "application/octet-stream";
    checkHeaderValue("content type", contentType_);
    checkMimeType(bucket_, contentType_);
    file_.emplace(folder_);
  }

  void partData(std::string_view bytes) override {
    if (inFile_) {
      if (file_->size() + bytes.size() > limit_) throw StorageError::tooLarge();
      file_->append(bytes);
      return;
    }
    if (value_.size() + bytes.size() > kMaxFieldBytes) {
      throw StorageError::invalidRequest("The form field \"" + field_ + "\" is too long");
    }
    value_.append(bytes);
  }

  void endPart() override {
    if (inFile_) return;
    if (field_ == "cacheControl") {
      checkHeaderValue("cache control", value_);
      cacheControl_ = value_;
    }
    if (field_ == "metadata") metadata_ = value_;
  }

  std::optional<detail::StagedFile> file_;
  std::string contentType_;
  std::string cacheControl_;
  std::optional<std::string> metadata_;

 private:
  const BucketRecord& bucket_;
  std::filesystem::path folder_;
  std::uint64_t limit_;
  std::string field_;
  std::string value_;
  bool inFile_ = false;
};

void parseMultipart(const std::filesystem::path& body, const std::string& boundary,
                    MultipartSink& sink) {
  std::ifstream in(body, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read the spooled upload");
  MultipartReader reader(boundary, sink);
  std::string chunk(64 * 1024, '\0');
  try {
    while (in) {
      in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
      reader.feed(std::string_view(chunk.data(), static_cast<std::size_t>(in.gcount())));
    }
    reader.finish();
  } catch (const MultipartError& error) {
    throw StorageError::invalidRequest(std::string("Malformed multipart body: ") + error.what());
  }
}

std::optional<std::string> checkedMetadata(std::optional<std::string> metadata) {
  if (!metadata) return std::nullopt;
  boost::system::error_code ec;
  const auto value = json::parse(*metadata, ec);
  if (ec || !value.is_object()) {
    throw StorageError::invalidRequest("The metadata field must be a JSON object");
  }
  return metadata;
}

}  // namespace

StagedUpload stageUpload(const Request& request, const std::filesystem::path& body,
                         const BucketRecord& bucket, const std::filesystem::path& folder,
                         std::uint64_t limit) {
  const std::string contentType = headerOf(request, http::field::content_type);
  if (const auto boundary = multipartBoundary(contentType)) {
    UploadSink sink(bucket, folder, limit);
    parseMultipart(body, *boundary, sink);
    if (!sink.file_) throw StorageError::invalidRequest("The form holds no file");
    return StagedUpload{std::move(*sink.file_), sink.contentType_,
                        cacheControlOf(sink.cacheControl_), checkedMetadata(sink.metadata_)};
  }
  if (essenceOf(contentType).starts_with("multipart/")) {
    throw StorageError::invalidRequest("The multipart body has no usable boundary");
  }
  // Raw bytes: the body is the content.
  if (std::filesystem::file_size(body) > limit) throw StorageError::tooLarge();
  const std::string type = contentType.empty() ? "application/octet-stream" : contentType;
  checkMimeType(bucket, type);
  detail::StagedFile content(folder);
  content.appendFile(body);
  return StagedUpload{std::move(content), type,
                      cacheControlOf(headerOf(request, http::field::cache_control)), std::nullopt};
}

}  // namespace local_backend
