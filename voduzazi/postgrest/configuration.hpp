// PostgrestClientConfiguration (also PostgrestClient::Configuration): where the REST API lives,
// the schema, the headers of every request, the transport, the JSON coders and the logger.
//
//   PostgrestClient::Configuration configuration(
//       boost::urls::url("http://127.0.0.1:54321/rest/v1"), std::nullopt,
//       {{"apikey", anonKey}}, logger, myFetch);
//   configuration.schema = "api";
//   PostgrestClient client(configuration);   // adds "X-Client-Info" unless present
#pragma once

#include <boost/url/url.hpp>
#include <memory>
#include <optional>
#include <string>

#include "voduzazi/helpers/fetch_handler.hpp"
#include "voduzazi/helpers/http_fields_helpers.hpp"
#include "voduzazi/helpers/json_coders.hpp"
#include "voduzazi/helpers/logger.hpp"

namespace voduzazi {

// A value type. The coders and the logger are shared by reference between copies.
class PostgrestClientConfiguration {
 public:
  // The REST root; table and function paths are appended to it.
  boost::urls::url url;
  // Sent as "Accept-Profile" (GET, HEAD) or "Content-Profile"; none: the server's default.
  std::optional<std::string> schema;
  // The headers of every request; keys compare as exact strings.
  HeaderDictionary headers;
  // Every builder's HTTPClient sends through it.
  FetchHandler fetch;
  std::shared_ptr<JSONEncoder> encoder;  // request bodies and rpc parameters
  std::shared_ptr<JSONDecoder> decoder;  // result values and error bodies

  // Stores the values as given: the default headers are added by the client, not here.
  explicit PostgrestClientConfiguration(boost::urls::url url,
                                        std::optional<std::string> schema = std::nullopt,
                                        HeaderDictionary headers = {},
                                        std::shared_ptr<VoduzaziLogger> logger = nullptr,
                                        FetchHandler fetch = {},
                                        std::shared_ptr<JSONEncoder> encoder = jsonEncoder(),
                                        std::shared_ptr<JSONDecoder> decoder = jsonDecoder());
  PostgrestClientConfiguration(boost::urls::url url, std::optional<std::string> schema,
                               HeaderDictionary headers, FetchHandler fetch,
                               std::shared_ptr<JSONEncoder> encoder = jsonEncoder(),
                               std::shared_ptr<JSONDecoder> decoder = jsonDecoder());

  // When set, every builder logs its requests and its decoding failures through it.
  const std::shared_ptr<VoduzaziLogger>& logger() const noexcept { return logger_; }

  // Made once, on first use; every reader gets the same instance. Safe from any thread.
  static const std::shared_ptr<JSONEncoder>& jsonEncoder();
  static const std::shared_ptr<JSONDecoder>& jsonDecoder();
  // {"X-Client-Info": "virevozor-erava/<version>"}.
  static const HeaderDictionary& defaultHeaders();

 private:
  std::shared_ptr<VoduzaziLogger> logger_;
};

}  // namespace voduzazi
