// RealtimeChannel's traffic: the join configuration and the server's binding ids, the match of
// postgres changes and broadcasts, send (over the socket or HTTP), and presence tracking.
#include <algorithm>
#include <boost/algorithm/string/predicate.hpp>
#include <boost/url/parse.hpp>
#include <charconv>
#include <chrono>
#include <future>
#include <regex>
#include <stdexcept>

#include "voduzazi/realtime/detail/lowercased.hpp"
#include "voduzazi/realtime/presence.hpp"
#include "voduzazi/realtime/realtime_channel.hpp"
#include "voduzazi/realtime/realtime_client.hpp"

namespace voduzazi::realtime {
namespace {

constexpr std::string_view kMismatch =
    "Mismatch between client and server bindings for postgres changes.";

const AnyJSON* member(const JSONObject& object, std::string_view key) {
  const auto found = object.find(key);
  return found == object.end() ? nullptr : &found->second;
}

std::optional<std::string> textMember(const JSONObject* object, std::string_view key) {
  if (object == nullptr) return std::nullopt;
  const auto* value = member(*object, key);
  if (value == nullptr || value->stringValue() == nullptr) return std::nullopt;
  return *value->stringValue();
}

std::optional<std::string> lowercasedOrNone(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  return detail::lowercased(*text);
}

// The entry of `map` named `name` in any letter case: the one spelled exactly so, else the first
// in the map's order.
template <class Map>
const typename Map::mapped_type* entryInAnyCase(const Map& map, const std::string& name) {
  if (const auto exact = map.find(name); exact != map.end()) return &exact->second;
  for (const auto& [key, value] : map) {
    if (boost::algorithm::iequals(key, name)) return &value;
  }
  return nullptr;
}

// The API key the socket was made with: its "apikey" header, else its "apikey" param when that
// is text. The facade puts the API key in both.
std::optional<std::string> apiKeyOf(const HeaderDictionary& headers,
                                    const std::optional<JSONObject>& params) {
  if (const auto* header = entryInAnyCase(headers, "apikey")) return *header;
  const auto* param = params ? entryInAnyCase(*params, "apikey") : nullptr;
  if (param && param->stringValue()) return *param->stringValue();
  return std::nullopt;
}

std::optional<std::int64_t> decimalInteger(const std::string& text) {
  std::string_view digits = text;
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size() || digits.empty()) {
    return std::nullopt;
  }
  return value;
}

// The payload's "ids" as integers; empty when absent or not all integers.
std::vector<std::int64_t> idsOf(const JSONObject& payload) {
  std::vector<std::int64_t> ids;
  const auto* value = member(payload, "ids");
  const auto* array = value ? value->arrayValue() : nullptr;
  if (array == nullptr) return ids;
  for (const auto& element : *array) {
    const auto id = element.intValue();
    if (!id) return {};
    ids.push_back(*id);
  }
  return ids;
}

// A one-shot answer of send(): the first of the reply hooks wins.
struct Answer {
  std::promise<ChannelResponse> promise;
  std::once_flag once;
  void set(ChannelResponse response) {
    std::call_once(once, [&] { promise.set_value(response); });
  }
};

}  // namespace

JSONObject RealtimeChannel::joinConfig() const {
  JSONArray postgres;
  if (const auto found = bindings_.find(std::string(ChannelEvent::postgresChanges));
      found != bindings_.end()) {
    for (const auto& binding : found->second) {
      JSONObject filter;
      for (const auto& [key, value] : binding.filter) filter.emplace(key, value);
      postgres.emplace_back(std::move(filter));
    }
  }
  JSONObject config{{"postgres_changes", std::move(postgres)}};
  const auto* previous = member(params_, "config");
  if (const auto* object = previous ? previous->objectValue() : nullptr) {
    for (const char* key : {"broadcast", "presence"}) {
      if (const auto* value = member(*object, key)) config.emplace(key, *value);
    }
  }
  return config;
}

void RealtimeChannel::joinReconciled(const RealtimeMessage& reply,
                                     const SubscribeCallback& callback) {
  const auto socket = lockedSocket();
  if (const auto token = socket ? socket->accessToken() : std::nullopt) {
    if (callOut([&] { socket->setAuth(token); }).released) return;
  }

  const auto* listed = member(reply.payload(), "postgres_changes");
  const auto* server = listed ? listed->arrayValue() : nullptr;
  const bool readable =
      server != nullptr && std::all_of(server->begin(), server->end(), [](const AnyJSON& entry) {
        return entry.objectValue() != nullptr;
      });
  if (readable) {
    const auto client = bindings_[std::string(ChannelEvent::postgresChanges)];
    std::vector<Binding> kept;
    for (std::size_t i = 0; i < client.size(); ++i) {
      // A shorter server list cannot confirm the remaining bindings: a mismatch too.
      const JSONObject* entry = i < server->size() ? (*server)[i].objectValue() : nullptr;
      bool same = entry != nullptr;
      for (const char* key : {"event", "schema", "table", "filter"}) {
        if (!same) break;
        const auto wanted = client[i].filter.find(key);
        const auto mine = wanted == client[i].filter.end()
                              ? std::nullopt
                              : std::optional<std::string>(wanted->second);
        same = mine == textMember(entry, key);
      }
      if (!same) {
        if (callOut([&] { unsubscribe(10.0); }).released) return;
        if (callback) {
          callback(RealtimeSubscribeStates::channelError, RealtimeError(std::string(kMismatch)));
        }
        return;
      }
      Binding binding = client[i];
      const auto* id = member(*entry, "id");
      const auto number = id ? id->intValue() : std::nullopt;
      binding.id = number ? std::optional<std::string>(std::to_string(*number)) : std::nullopt;
      kept.push_back(std::move(binding));
    }
    bindings_[std::string(ChannelEvent::postgresChanges)] = std::move(kept);
  }
  if (callback) callback(RealtimeSubscribeStates::subscribed, std::nullopt);
}

bool RealtimeChannel::matches(const Binding& binding, const std::string&,
                              const RealtimeMessage& message) const {
  const auto wanted = binding.filter.find("event");
  const auto bindingEvent = wanted == binding.filter.end()
                                ? std::nullopt
                                : std::optional<std::string>(detail::lowercased(wanted->second));
  const JSONObject& payload = message.payload();
  if (const auto id = binding.id ? decimalInteger(*binding.id) : std::nullopt) {
    const auto ids = idsOf(payload);
    if (std::find(ids.begin(), ids.end(), *id) == ids.end()) return false;
    const auto* data = member(payload, "data");
    const auto type = lowercasedOrNone(textMember(data ? data->objectValue() : nullptr, "type"));
    return bindingEvent == "*" || bindingEvent == type;
  }
  return bindingEvent == "*" || bindingEvent == lowercasedOrNone(textMember(&payload, "event"));
}

ChannelResponse RealtimeChannel::send(RealtimeListenTypes type, std::optional<std::string> event,
                                      JSONObject payload, const JSONObject& opts) {
  if (strand_->isCurrent()) {
    throw std::logic_error("a realtime callback cannot wait for a send on its own client");
  }
  payload["type"] = std::string(toString(type));
  if (event) payload["event"] = *event;
  auto answer = std::make_shared<Answer>();
  auto result = answer->promise.get_future();
  double waitLimit = 0;  // read on the strand where a reply is awaited; else answered already
  const bool overHTTP = strand_->call([&] {
    // An orphan sends nothing, so nothing could ever answer.
    if (!lockedSocket()) {
      answer->set(ChannelResponse::error);
      return false;
    }
    if (type == RealtimeListenTypes::broadcast &&
        !(socketConnected() && state_ == ChannelState::joined)) {
      return true;
    }
    const auto* given = member(opts, "timeout");
    const double timeout = given && given->doubleValue() ? *given->doubleValue() : timeout_;
    waitLimit = timeout;
    auto sent = push(std::string(toString(type)), payload, timeout);
    const auto* config = member(params_, "config");
    const auto* configObject = config ? config->objectValue() : nullptr;
    const auto* broadcast = configObject ? member(*configObject, "broadcast") : nullptr;
    if (type == RealtimeListenTypes::broadcast && broadcast && broadcast->objectValue()) {
      const auto* ack = member(*broadcast->objectValue(), "ack");
      if (!(ack && ack->boolValue() == true)) {
        answer->set(ChannelResponse::ok);
        return false;
      }
    }
    sent->receive(PushStatus::ok, [answer](const auto&) { answer->set(ChannelResponse::ok); });
    sent->receive(PushStatus::timeout,
                  [answer](const auto&) { answer->set(ChannelResponse::timedOut); });
    // An "error" reply ends the wait too.
    sent->receive(PushStatus::error,
                  [answer](const auto&) { answer->set(ChannelResponse::error); });
    return false;
  });
  if (overHTTP) return sendOverHTTP(std::move(payload), event);
  // The push's own time-out answers first; the bound is for a timer that could not fire.
  const double seconds = waitLimit >= 0 ? std::min(waitLimit, 86400.0) : 0.0;  // NaN too
  const auto limit = std::chrono::duration<double>(seconds + 1.0);
  if (result.wait_for(limit) != std::future_status::ready) return ChannelResponse::timedOut;
  return result.get();
}

ChannelResponse RealtimeChannel::sendOverHTTP(JSONObject payload,
                                              const std::optional<std::string>& event) {
  // Building the request can fail too (a socket header that is no field name): that is this
  // send's error, as a failed request is.
  try {
    return postBroadcast(std::move(payload), event);
  } catch (const std::exception&) {
    return ChannelResponse::error;
  }
}

ChannelResponse RealtimeChannel::postBroadcast(JSONObject payload,
                                               const std::optional<std::string>& event) {
  const auto socket = lockedSocket();
  const auto url = broadcastEndpointURL();
  if (!socket || !url) return ChannelResponse::error;
  const HeaderDictionary socketHeaders = socket->headers();
  HTTPFields headers = makeHTTPFields(socketHeaders);
  headers.set(HTTPField::Name("Content-Type"), "application/json");
  // The gateway checks "apikey" against the project's keys, so a user's token goes only in
  // "Authorization"; a socket made without an API key still sends its token, as before.
  const auto token = socket->accessToken();
  std::optional<JSONObject> params;
  // On the strand, where a params closure that releases the client shows as such: the HTTP
  // client is the caller's too.
  if (socket->callOut([&] { params = socket->params(); }).released) return ChannelResponse::error;
  const auto apiKey = apiKeyOf(socketHeaders, params);
  headers.set(HTTPField::Name("apikey"), apiKey ? apiKey : token);
  const HTTPField::Name authorization("Authorization");
  if (token) {
    headers.set(authorization, "Bearer " + *token);
  } else if (const auto* own = entryInAnyCase(socketHeaders, "Authorization")) {
    headers.set(authorization, *own);
  }
  const JSONObject body{
      {"messages", JSONObject{{"topic", subTopic_},
                              {"payload", std::move(payload)},
                              {"event", event ? AnyJSON(*event) : AnyJSON(nullptr)}}}};
  helpers::HTTPRequest request(*url, HTTPMethod::post, {}, std::move(headers),
                               Defaults::encode(AnyJSON(body)));
  const int status = socket->http().send(request).statusCode();
  return status >= 200 && status <= 299 ? ChannelResponse::ok : ChannelResponse::error;
}

ChannelResponse RealtimeChannel::track(JSONObject payload, const JSONObject& opts) {
  return send(RealtimeListenTypes::presence, std::nullopt,
              JSONObject{{"event", "track"}, {"payload", std::move(payload)}}, opts);
}

ChannelResponse RealtimeChannel::untrack(const JSONObject& opts) {
  return send(RealtimeListenTypes::presence, std::nullopt, JSONObject{{"event", "untrack"}}, opts);
}

JSONObject RealtimeChannel::presenceState() { return Presence::toJSON(presence()->state()); }

std::optional<boost::urls::url> RealtimeChannel::broadcastEndpointURL() const {
  const auto socket = lockedSocket();
  std::string text = socket ? socket->endPoint() : "";
  text = std::regex_replace(text, std::regex("^ws"), "http");
  text = std::regex_replace(text, std::regex("(/socket/websocket|/socket|/websocket)/?$"), "");
  text = std::regex_replace(text, std::regex("/+$"), "");
  text += "/api/broadcast";
  auto parsed = boost::urls::parse_uri(text);
  if (!parsed) return std::nullopt;
  return boost::urls::url(*parsed);
}

}  // namespace voduzazi::realtime
