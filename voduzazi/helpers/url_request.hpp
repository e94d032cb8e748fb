// URLRequest and URLResponse: what the transport is handed and what it answers with. Every
// header field is kept, in order, repeated names included.
//
//   URLRequest request{boost::urls::url("https://example.com/rest/v1/items"), "POST"};
//   request.headerFields.emplace_back("Content-Type", "application/json");
//   request.httpBody = R"({"id":1})";
//   auto [data, response] = fetch(request);
//   if (auto http = std::dynamic_pointer_cast<const HTTPURLResponse>(response)) use(*http);
#pragma once

#include <boost/url/url.hpp>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "voduzazi/helpers/body_source.hpp"
#include "voduzazi/helpers/data.hpp"

namespace voduzazi {

using HeaderFieldList = std::vector<std::pair<std::string, std::string>>;

struct URLRequest {
  boost::urls::url url;
  std::string httpMethod = "GET";
  HeaderFieldList headerFields;  // in order; every field is sent
  std::optional<Data> httpBody;
  double timeoutInterval = 60;  // seconds of connecting or of silence (see URLSession::data)
  // Read piece by piece in place of httpBody when set (a large upload from disk).
  std::shared_ptr<const BodySource> httpBodyStream{};

  // The values of the fields named `name` (letter case ignored) joined by ", ".
  std::optional<std::string> value(std::string_view name) const;
};

// A response of any protocol. Immutable; shared by reference between the records that keep it.
class URLResponse {
 public:
  URLResponse(boost::urls::url url, std::int64_t expectedContentLength)
      : url_(std::move(url)), expectedContentLength_(expectedContentLength) {}
  virtual ~URLResponse() = default;

  const boost::urls::url& url() const noexcept { return url_; }
  // The announced body length, -1 when none was announced.
  std::int64_t expectedContentLength() const noexcept { return expectedContentLength_; }

 private:
  boost::urls::url url_;
  std::int64_t expectedContentLength_;
};

// An HTTP response head. Immutable.
class HTTPURLResponse : public URLResponse {
 public:
  HTTPURLResponse(boost::urls::url url, int statusCode, HeaderFieldList headerFields,
                  std::int64_t expectedContentLength = -1)
      : URLResponse(std::move(url), expectedContentLength),
        statusCode_(statusCode),
        headerFields_(std::move(headerFields)) {}

  int statusCode() const noexcept { return statusCode_; }
  // The header fields in the order they arrived, repeated names included.
  const HeaderFieldList& headerFields() const noexcept { return headerFields_; }
  // The values of the fields named `name` (letter case ignored) joined by ", ".
  std::optional<std::string> value(std::string_view name) const;

 private:
  int statusCode_;
  HeaderFieldList headerFields_;
};

}  // namespace voduzazi
