// helpers::HTTPRequest and helpers::HTTPResponse: the request record every service client
// builds and the response record it gets back, whatever the status.
//
//   helpers::HTTPRequest request(url, HTTPMethod::get, {{"select", "*"}},
//                                {{HTTPField::Name::accept, "application/json"}});
//   URLRequest wire = request.urlRequest();    // query escaped and appended, content type set
//   helpers::HTTPResponse response = client.send(request);
//   auto rows = response.decoded<std::vector<Row>>(*decoder);
#pragma once

#include <boost/url/url.hpp>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "voduzazi/helpers/data.hpp"
#include "voduzazi/helpers/http_fields_helpers.hpp"
#include "voduzazi/helpers/json_coders.hpp"
#include "voduzazi/helpers/query_items.hpp"
#include "voduzazi/helpers/url_request.hpp"
#include "voduzazi/http_types/http_request.hpp"

namespace voduzazi {

using HTTPMethod = http_types::HTTPRequest::Method;

namespace helpers {

// A value type; every field may be read and changed.
struct HTTPRequest {
  boost::urls::url url;
  HTTPMethod method;
  std::vector<URLQueryItem> query;  // unescaped; appended to `url` when sent
  HTTPFields headers;
  std::optional<Data> body;
  double timeoutInterval = 60;  // seconds
  // Sent in place of `body` when set, read piece by piece; see URLRequest::httpBodyStream.
  std::shared_ptr<const BodySource> bodyStream{};

  HTTPRequest(boost::urls::url url, HTTPMethod method, std::vector<URLQueryItem> query = {},
              HTTPFields headers = {}, std::optional<Data> body = std::nullopt,
              double timeoutInterval = 60);

  // As the constructor, with the address given as text; nothing when it is not a URL reference.
  static std::optional<HTTPRequest> make(std::string_view urlString, HTTPMethod method,
                                         std::vector<URLQueryItem> query = {},
                                         HTTPFields headers = {},
                                         std::optional<Data> body = std::nullopt,
                                         double timeoutInterval = 60);

  // The transport's request: the query appended to the URL, every header field in order, the
  // body, "Content-Type: application/json" when there is a body and no content type, the timeout.
  URLRequest urlRequest() const;
};

// A value type with read-only fields. Shared objects: safe (the headers are built once, on
// first use, by whichever thread asks first).
class HTTPResponse {
 public:
  // The headers are the response's fields in the order they arrived; fields whose name is not a
  // valid field name are left out.
  HTTPResponse(Data data, std::shared_ptr<const HTTPURLResponse> response);

  const Data& data() const& noexcept { return data_; }
  // The body moved out of a response that is about to go away.
  Data data() && noexcept { return std::move(data_); }
  const HTTPFields& headers() const;
  int statusCode() const noexcept { return statusCode_; }
  const std::shared_ptr<const HTTPURLResponse>& underlyingResponse() const noexcept {
    return underlyingResponse_;
  }

  // The body decoded as T; throws the decoder's DecodingError.
  template <class T>
  T decoded(const JSONDecoder& decoder = JSONDecoder()) const {
    return decoder.decode<T>(data_);
  }

 private:
  // Most callers never read the headers as HTTPFields: they are converted when first asked for.
  struct LazyHeaders {
    std::once_flag built;
    HTTPFields fields;
  };

  Data data_;
  int statusCode_;
  std::shared_ptr<const HTTPURLResponse> underlyingResponse_;
  std::shared_ptr<LazyHeaders> headers_;  // shared by copies; read-only once built
};

}  // namespace helpers
}  // namespace voduzazi
