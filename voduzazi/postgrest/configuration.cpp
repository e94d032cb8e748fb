#include "voduzazi/postgrest/configuration.hpp"

#include <utility>

#include "voduzazi/helpers/version.hpp"
#include "voduzazi/platform/url_session.hpp"

namespace voduzazi {

PostgrestClientConfiguration::PostgrestClientConfiguration(
    boost::urls::url url, std::optional<std::string> schema, HeaderDictionary headers,
    std::shared_ptr<VoduzaziLogger> logger, FetchHandler fetch,
    std::shared_ptr<JSONEncoder> encoder, std::shared_ptr<JSONDecoder> decoder)
    : url(std::move(url)),
      schema(std::move(schema)),
      headers(std::move(headers)),
      fetch(fetch ? std::move(fetch) : defaultFetch()),
      encoder(std::move(encoder)),
      decoder(std::move(decoder)),
      logger_(std::move(logger)) {}

PostgrestClientConfiguration::PostgrestClientConfiguration(
    boost::urls::url url, std::optional<std::string> schema, HeaderDictionary headers,
    FetchHandler fetch, std::shared_ptr<JSONEncoder> encoder, std::shared_ptr<JSONDecoder> decoder)
    : PostgrestClientConfiguration(std::move(url), std::move(schema), std::move(headers), nullptr,
                                   std::move(fetch), std::move(encoder), std::move(decoder)) {}

const std::shared_ptr<JSONEncoder>& PostgrestClientConfiguration::jsonEncoder() {
  static const std::shared_ptr<JSONEncoder> encoder = makeVoduzaziEncoder();
  return encoder;
}

const std::shared_ptr<JSONDecoder>& PostgrestClientConfiguration::jsonDecoder() {
  static const std::shared_ptr<JSONDecoder> decoder = makeVoduzaziDecoder();
  return decoder;
}

const HeaderDictionary& PostgrestClientConfiguration::defaultHeaders() {
  static const HeaderDictionary headers{
      {"X-Client-Info", "virevozor-erava/" + std::string(version)}};
  return headers;
}

}  // namespace voduzazi
