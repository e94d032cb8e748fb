#include "voduzazi/helpers/http_request.hpp"

#include <boost/url/parse.hpp>
#include <utility>

namespace voduzazi::helpers {

HTTPRequest::HTTPRequest(boost::urls::url url, HTTPMethod method, std::vector<URLQueryItem> query,
                         HTTPFields headers, std::optional<Data> body, double timeoutInterval)
    : url(std::move(url)),
      method(std::move(method)),
      query(std::move(query)),
      headers(std::move(headers)),
      body(std::move(body)),
      timeoutInterval(timeoutInterval) {}

std::optional<HTTPRequest> HTTPRequest::make(std::string_view urlString, HTTPMethod method,
                                             std::vector<URLQueryItem> query, HTTPFields headers,
                                             std::optional<Data> body, double timeoutInterval) {
  auto parsed = boost::urls::parse_uri_reference(urlString);
  if (!parsed) return std::nullopt;
  return HTTPRequest(boost::urls::url(*parsed), std::move(method), std::move(query),
                     std::move(headers), std::move(body), timeoutInterval);
}

URLRequest HTTPRequest::urlRequest() const {
  URLRequest request;
  request.url = query.empty() ? url : appendingQueryItems(url, query);
  request.httpMethod = method.rawValue();
  if (!headers.empty() || body) request.headerFields.reserve(headers.size() + 1);
  for (const HTTPField& field : headers) {
    request.headerFields.emplace_back(field.name().rawName(), field.value());
  }
  request.httpBody = body;
  request.httpBodyStream = bodyStream;
  if (body && !headers.contains(HTTPField::Name::contentType)) {
    request.headerFields.emplace_back("Content-Type", "application/json");
  }
  request.timeoutInterval = timeoutInterval;
  return request;
}

HTTPResponse::HTTPResponse(Data data, std::shared_ptr<const HTTPURLResponse> response)
    : data_(std::move(data)),
      statusCode_(response ? response->statusCode() : 0),
      underlyingResponse_(std::move(response)),
      headers_(std::make_shared<LazyHeaders>()) {}

const HTTPFields& HTTPResponse::headers() const {
  static const HTTPFields none;
  if (!headers_) return none;  // a moved-from response
  std::call_once(headers_->built, [this] {
    if (!underlyingResponse_) return;
    for (const auto& [name, value] : underlyingResponse_->headerFields()) {
      if (auto fieldName = HTTPField::Name::fromString(name)) {
        headers_->fields.append(HTTPField(std::move(*fieldName), value));
      }
    }
  });
  return headers_->fields;
}

}  // namespace voduzazi::helpers
