// RealtimeChannelV2's broadcast (over the socket, or over HTTP without a join) and presence.
#include <boost/json/array.hpp>
#include <boost/json/object.hpp>

#include "voduzazi/issue_reporting/report_issue.hpp"
#include "voduzazi/realtime/channel_state.hpp"
#include "voduzazi/realtime/detail/log.hpp"
#include "voduzazi/realtime/detail/one_shot.hpp"
#include "voduzazi/realtime/realtime_channel_v2.hpp"

namespace voduzazi::realtime {

namespace {

constexpr std::string_view kTrackBeforeSubscribe =
    "You can only track your presence after subscribing to the channel. Did you forget to call "
    "`channel.subscribe()`?";

// {"messages": [{"topic", "event", "payload", "private"}]} in a default encoder's text.
Data broadcastBody(const std::string& topic, const std::string& event, const JSONObject& message,
                   bool isPrivate) {
  boost::json::object entry{{"topic", topic},
                            {"event", event},
                            {"payload", AnyJSON(message).toJSON()},
                            {"private", isPrivate}};
  return JSONEncoder().write(boost::json::object{{"messages", boost::json::array{entry}}});
}

}  // namespace

PushStatus RealtimeChannelV2::broadcast(std::string event, JSONObject message) {
  if (status() == RealtimeChannelStatus::subscribed) {
    return push(
        ChannelEvent::broadcast, std::nullopt,
        {{"type", "broadcast"}, {"event", std::move(event)}, {"payload", std::move(message)}});
  }
  const auto client = this->client();
  if (!client) return PushStatus::error;
  return broadcastOverHTTP(*client, std::move(event), std::move(message));
}

PushStatus RealtimeChannelV2::broadcastOverHTTP(const RealtimeClientV2& client, std::string event,
                                                JSONObject message) {
  HTTPFields headers{{HTTPField::Name::contentType, "application/json"}};
  if (const auto apikey = client.options().headers.get(apiKeyFieldName())) {
    headers.set(apiKeyFieldName(), *apikey);
  }
  if (const auto token = tokenForJoin(client)) {
    headers.set(HTTPField::Name::authorization, "Bearer " + *token);
  }
  const RealtimeChannelConfig settings = config();
  Data body;
  try {
    body = broadcastBody(topic_, event, message, settings.isPrivate);
  } catch (const std::exception& error) {
    detail::logError(logger_, [&] { return std::string("Broadcast not sent: ") + error.what(); });
    return PushStatus::error;
  }
  boost::urls::url url = client.url();
  auto segments = url.segments();
  if (!segments.empty() && segments.back().empty()) segments.pop_back();  // a trailing "/"
  segments.push_back("api");
  segments.push_back("broadcast");
  helpers::HTTPRequest request(std::move(url), HTTPMethod::post, {}, std::move(headers),
                               std::move(body));
  const detail::OneShot<PushStatus> done;
  // The request goes on even when nobody waits for it, on one of the client's few senders.
  client.broadcasts().send(std::move(request), done);
  if (!settings.broadcast.acknowledgeBroadcasts) return PushStatus::ok;
  return client.timers()
      .waitFor(done, client.options().timeoutInterval.count())
      .value_or(PushStatus::timeout);
}

void RealtimeChannelV2::track(JSONObject state) {
  if (status() != RealtimeChannelStatus::subscribed)
    reportIssue(std::string(kTrackBeforeSubscribe));
  push(ChannelEvent::presence, std::nullopt,
       {{"type", "presence"}, {"event", "track"}, {"payload", std::move(state)}});
}

void RealtimeChannelV2::untrack() {
  push(ChannelEvent::presence, std::nullopt, {{"type", "presence"}, {"event", "untrack"}});
}

}  // namespace voduzazi::realtime
