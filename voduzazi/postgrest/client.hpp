// PostgrestClient: the entry point of the database client. It keeps one configuration (REST
// root, schema, headers, fetch function, coders, logger) and hands out request builders that
// start from a copy of it.
//
//   PostgrestClient client(boost::urls::url(projectURL + "/rest/v1"), std::nullopt,
//                          {{"apikey", anonKey}}, logger, fetchWithBearerToken);
//   auto rows = client.from("messages").select().eq("receiver_id", me)
//                   .order("created_at").execute<std::vector<Message>>();
//   auto sum = client.rpc("add_numbers", JSONObject{{"a", 1}, {"b", 2}}).execute<int>();
//   client.setAuth(accessToken);   // builders made from now on send "Bearer <token>"
#pragma once

#include <boost/json/value.hpp>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "voduzazi/concurrency/lock_isolated.hpp"
#include "voduzazi/postgrest/configuration.hpp"
#include "voduzazi/postgrest/filter_builder.hpp"
#include "voduzazi/postgrest/query_builder.hpp"

namespace voduzazi {

// The parameters of a function that takes none: no body is sent.
struct NoParams {
  boost::json::value toJSON() const { return boost::json::object(); }
};

// A handle: copies share one client and its configuration. Shared objects: safe; builders are
// made from a copy of the configuration taken under the client's lock, so a concurrent setAuth
// reaches a request whole or not at all.
class PostgrestClient {
 public:
  using Configuration = PostgrestClientConfiguration;

  // Adds the default headers ("X-Client-Info") that the configuration does not hold already.
  explicit PostgrestClient(Configuration configuration);
  PostgrestClient(boost::urls::url url, std::optional<std::string> schema, HeaderDictionary headers,
                  std::shared_ptr<VoduzaziLogger> logger, FetchHandler fetch = {},
                  std::shared_ptr<JSONEncoder> encoder = Configuration::jsonEncoder(),
                  std::shared_ptr<JSONDecoder> decoder = Configuration::jsonDecoder());
  PostgrestClient(boost::urls::url url, std::optional<std::string> schema, HeaderDictionary headers,
                  FetchHandler fetch,
                  std::shared_ptr<JSONEncoder> encoder = Configuration::jsonEncoder(),
                  std::shared_ptr<JSONDecoder> decoder = Configuration::jsonDecoder());

  // A copy of the current configuration.
  Configuration configuration() const;

  // Sets "Authorization: Bearer <token>" for builders made from now on, or removes it. Builders
  // made earlier keep the headers they were made with.
  PostgrestClient& setAuth(std::optional<std::string> token);

  // A GET request on the table's path, ready for select, insert, upsert, update or delete.
  PostgrestQueryBuilder from(std::string_view table) const;

  // A call of the database function `function` under "rpc/". POST with the parameters as JSON
  // body by default; with `get` (or `head`, which wins) the parameters travel as query items
  // instead, and must then encode as an object (else PostgrestError "Params should be a
  // key-value type when using `GET` or `HEAD` options."). NoParams sends no body. `count` sets
  // "Prefer" to "count=...". Throws the encoder's EncodingError. Sends nothing by itself.
  template <class Params>
  PostgrestFilterBuilder rpc(std::string_view function, const Params& params, bool head = false,
                             bool get = false,
                             std::optional<CountOption> count = std::nullopt) const;
  PostgrestFilterBuilder rpc(std::string_view function, bool head = false, bool get = false,
                             std::optional<CountOption> count = std::nullopt) const;

  // A new client, sharing nothing with this one, whose requests address `schema`.
  PostgrestClient schema(std::string schema) const;

 private:
  PostgrestFilterBuilder rpcRequest(std::string_view function,
                                    const std::optional<boost::json::value>& params, bool head,
                                    bool get, std::optional<CountOption> count) const;

  std::shared_ptr<LockIsolated<Configuration>> configuration_;
};

// Implementation.

template <class Params>
PostgrestFilterBuilder PostgrestClient::rpc(std::string_view function, const Params& params,
                                            bool head, bool get,
                                            std::optional<CountOption> count) const {
  if constexpr (std::is_same_v<Params, NoParams>) {
    return rpcRequest(function, std::nullopt, head, get, count);
  } else {
    const auto encoder = configuration_->get(&Configuration::encoder);
    return rpcRequest(function, encoder->encodeToJSON(params), head, get, count);
  }
}

}  // namespace voduzazi
