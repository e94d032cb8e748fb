#include "local_backend/realtime_hub.hpp"

#include <boost/json/serialize.hpp>
#include <tuple>

#include "local_backend/access_rules.hpp"
#include "local_backend/jwt.hpp"
#include "local_backend/realtime_filter.hpp"
#include "local_backend/rest_error.hpp"
#include "local_backend/rest_sql.hpp"
#include "local_backend/timestamp.hpp"

namespace local_backend {

namespace json = boost::json;

namespace {

constexpr std::string_view kStatusOk = "ok";
constexpr std::string_view kStatusError = "error";

json::object reason(std::string_view text) { return json::object{{"reason", text}}; }

// Close reasons are at most 123 bytes.
std::string closeReason(std::string_view text) { return std::string(text.substr(0, 123)); }

const json::object* objectMember(const json::object& from, std::string_view key) {
  const auto* member = from.if_contains(key);
  if (member == nullptr || member->is_null()) return nullptr;
  if (!member->is_object()) throw FrameError("\"" + std::string(key) + "\" must be an object");
  return &member->as_object();
}

bool boolMember(const json::object* from, std::string_view key) {
  if (from == nullptr) return false;
  const auto* member = from->if_contains(key);
  if (member == nullptr || member->is_null()) return false;
  if (!member->is_bool()) throw FrameError("\"" + std::string(key) + "\" must be a boolean");
  return member->as_bool();
}

std::optional<std::string> stringMember(const json::object* from, std::string_view key) {
  if (from == nullptr) return std::nullopt;
  const auto* member = from->if_contains(key);
  if (member == nullptr || member->is_null()) return std::nullopt;
  if (!member->is_string()) throw FrameError("\"" + std::string(key) + "\" must be a string");
  return std::string(member->as_string());
}

bool wantsEvent(const std::string& subscribed, const std::string& type) {
  return subscribed == "*" || subscribed == type;
}

json::array columnsOf(const Table& table) {
  json::array columns;
  for (const auto& column : table.columns) {
    const char* type = column.type == ColumnType::uuid          ? "uuid"
                       : column.type == ColumnType::timestamptz ? "timestamptz"
                                                                : "text";
    columns.push_back(json::object{{"name", column.name}, {"type", type}});
  }
  return columns;
}

}  // namespace

RealtimeHub::RealtimeHub(Database& database, const TokenAuthority& tokens, RealtimeLimits limits)
    : database_(database), tokens_(tokens), limits_(limits), catalog_(Catalog::load(database)) {}

std::uint64_t RealtimeHub::attach(std::shared_ptr<RealtimeSocket> socket, FrameFormat format,
                                  Caller caller, HandshakeHeaders headers) {
  std::lock_guard lock(mutex_);
  const auto id = ++nextSocket_;
  clients_.emplace(id, Client{std::move(socket),
                              format,
                              std::move(caller),
                              std::move(headers),
                              {},
                              pauseNewSockets_,
                              {}});
  return id;
}

void RealtimeHub::detach(std::uint64_t socket) {
  std::lock_guard lock(mutex_);
  auto found = clients_.find(socket);
  if (found == clients_.end()) return;
  Client& client = found->second;
  while (!client.channels.empty()) removeChannel(client, client.channels.begin()->first);
  clients_.erase(found);
}

void RealtimeHub::receive(std::uint64_t socket, std::string_view text) {
  std::lock_guard lock(mutex_);
  auto found = clients_.find(socket);
  if (found == clients_.end()) return;
  Client& client = found->second;
  if (client.paused) {
    client.held.emplace_back(text);
    return;
  }
  receiveFrame(client, text);
}

void RealtimeHub::receiveFrame(Client& client, std::string_view text) {
  Frame frame;
  try {
    frame = parseFrame(text, client.format);
  } catch (const FrameError& error) {
    client.socket->close(1007, closeReason(error.what()));
    return;
  }
  try {
    handle(client, frame);
  } catch (const FrameError& error) {
    reply(client, frame, kStatusError, reason(error.what()));
  }
}

void RealtimeHub::handle(Client& client, const Frame& frame) {
  expireTokens(client);
  if (frame.topic == "phoenix") {
    if (frame.event == "heartbeat") return reply(client, frame, kStatusOk);
    return reply(client, frame, kStatusError, reason("unknown event on phoenix"));
  }
  if (frame.event == "phx_join" || frame.event == "phx_leave") {
    if (membership_.size() == 1000) membership_.pop_front();
    membership_.emplace_back(frame.topic, MembershipFrame{frame.event, frame.joinRef});
  }
  if (frame.event == "phx_join") return join(client, frame);
  if (frame.event == "phx_leave") return leave(client, frame);
  auto found = client.channels.find(frame.topic);
  if (found == client.channels.end()) {
    return reply(client, frame, kStatusError, reason("unmatched topic"));
  }
  Channel& channel = found->second;
  if (frame.event == "broadcast") return broadcastFrom(client, channel, frame);
  if (frame.event == "presence") return presence(client, channel, frame);
  if (frame.event == "access_token") return accessToken(client, channel, frame);
  reply(client, frame, kStatusError, reason("unknown event \"" + frame.event + "\""));
}

void RealtimeHub::join(Client& client, const Frame& frame) {
  const bool rejoin = client.channels.contains(frame.topic);
  if (!rejoin && client.channels.size() >= limits_.maxChannelsPerSocket) {
    return reply(client, frame, kStatusError, reason("Too many channels on this connection"));
  }
  Channel channel;
  channel.joinRef = frame.joinRef ? frame.joinRef : frame.ref;
  channel.caller = client.caller;
  if (const auto token = stringMember(&frame.payload, "access_token")) {
    try {
      std::tie(channel.caller, channel.expiresAt) = callerOfToken(*token);
    } catch (const JwtError& error) {
      return reply(client, frame, kStatusError,
                   reason(std::string("Invalid token: ") + error.what()));
    }
  }
  const json::object* config = objectMember(frame.payload, "config");
  const json::object* broadcast = config ? objectMember(*config, "broadcast") : nullptr;
  const json::object* presenceConfig = config ? objectMember(*config, "presence") : nullptr;
  channel.broadcastSelf = boolMember(broadcast, "self");
  channel.broadcastAck = boolMember(broadcast, "ack");
  channel.presenceKey = stringMember(presenceConfig, "key").value_or("");
  json::array confirmed;
  if (const auto* changes = config ? config->if_contains("postgres_changes") : nullptr;
      changes && !changes->is_null()) {
    if (!changes->is_array()) throw FrameError("\"postgres_changes\" must be an array");
    for (const auto& change : changes->as_array()) {
      if (!change.is_object()) throw FrameError("each postgres change must be an object");
      const auto& asked = change.as_object();
      Subscription subscription;
      subscription.event = stringMember(&asked, "event").value_or("*");
      subscription.schema = stringMember(&asked, "schema").value_or("public");
      subscription.table = stringMember(&asked, "table");
      if (!(subscription.event == "*" || subscription.event == "INSERT" ||
            subscription.event == "UPDATE" || subscription.event == "DELETE")) {
        throw FrameError("unknown postgres change event \"" + subscription.event + "\"");
      }
      if (subscription.schema != "public" ||
          (subscription.table && catalog_.find(*subscription.table) == nullptr)) {
        throw FrameError("Unable to subscribe to changes of an unknown table");
      }
      if (const auto filter = stringMember(&asked, "filter")) {
        subscription.filter = parseRowFilter(*filter);
        if (!subscription.filter) throw FrameError("invalid filter \"" + *filter + "\"");
      }
      subscription.id = ++nextSubscription_;
      subscription.echo = asked;
      subscription.echo["id"] = subscription.id;
      confirmed.push_back(subscription.echo);
      channel.postgres.push_back(std::move(subscription));
    }
  }
  if (rejoin) removeChannel(client, frame.topic);
  const bool subscribesToChanges = !channel.postgres.empty();
  client.channels[frame.topic] = std::move(channel);
  reply(client, frame, kStatusOk, json::object{{"postgres_changes", std::move(confirmed)}});
  push(client, frame.topic, "presence_state", presenceState(frame.topic));
  if (subscribesToChanges) {
    push(client, frame.topic, "system",
         json::object{{"status", "ok"},
                      {"message", "Subscribed to PostgreSQL"},
                      {"extension", "postgres_changes"},
                      {"channel", frame.topic.substr(frame.topic.find(':') + 1)}});
  }
}

void RealtimeHub::leave(Client& client, const Frame& frame) {
  reply(client, frame, kStatusOk);
  auto found = client.channels.find(frame.topic);
  if (found == client.channels.end()) return;
  close(client, frame.topic);
}

void RealtimeHub::broadcastFrom(Client& client, const Channel& channel, const Frame& frame) {
  fanOut(frame.topic, frame.payload, "broadcast", channel.broadcastSelf ? nullptr : &client);
  if (channel.broadcastAck) reply(client, frame, kStatusOk);
}

void RealtimeHub::presence(Client& client, Channel& channel, const Frame& frame) {
  const auto event = stringMember(&frame.payload, "event");
  if (event != "track" && event != "untrack") {
    throw FrameError("a presence event must be \"track\" or \"untrack\"");
  }
  if (channel.presenceKey.empty()) {
    channel.presenceKey = "presence-" + std::to_string(++nextPresenceRef_);
  }
  json::object leaves;
  if (channel.presenceMeta) {
    leaves[channel.presenceKey] = json::object{{"metas", json::array{*channel.presenceMeta}}};
    channel.presenceMeta.reset();
  }
  json::object joins;
  if (*event == "track") {
    json::object meta;
    if (const auto* state = objectMember(frame.payload, "payload")) meta = *state;
    meta["phx_ref"] = "ref-" + std::to_string(++nextPresenceRef_);
    channel.presenceMeta = meta;
    joins[channel.presenceKey] = json::object{{"metas", json::array{std::move(meta)}}};
  }
  reply(client, frame, kStatusOk);
  if (!joins.empty() || !leaves.empty()) sendPresenceDiff(frame.topic, joins, leaves);
}

void RealtimeHub::accessToken(Client& client, Channel& channel, const Frame& frame) {
  const auto token = stringMember(&frame.payload, "access_token");
  if (!token) throw FrameError("\"access_token\" must be a string");
  try {
    std::tie(channel.caller, channel.expiresAt) = callerOfToken(*token);
    reply(client, frame, kStatusOk);
  } catch (const JwtError& error) {
    endChannel(client, frame.topic, std::string("Invalid token: ") + error.what());
  }
}

std::pair<Caller, std::optional<std::int64_t>> RealtimeHub::callerOfToken(
    std::string_view token) const {
  const Caller caller = tokens_.callerFromToken(token);
  const auto claims = tokens_.verify(token);
  std::optional<std::int64_t> expiresAt;
  if (const auto* exp = claims.if_contains("exp"); exp != nullptr && exp->is_int64()) {
    expiresAt = exp->as_int64();
  }
  return {caller, expiresAt};
}

void RealtimeHub::expireTokens(Client& client) {
  const auto now = unixNow();
  std::vector<std::string> expired;
  for (const auto& [topic, channel] : client.channels) {
    if (channel.expiresAt && *channel.expiresAt <= now) expired.push_back(topic);
  }
  for (const auto& topic : expired) endChannel(client, topic, "Token has expired");
}

void RealtimeHub::endChannel(Client& client, const std::string& topic, std::string_view why) {
  auto found = client.channels.find(topic);
  if (found == client.channels.end()) return;
  push(client, topic, "system",
       json::object{{"status", "error"}, {"extension", "system"}, {"message", why}});
  close(client, topic);
}

void RealtimeHub::removeChannel(Client& client, std::string topic) {
  auto found = client.channels.find(topic);
  if (found == client.channels.end()) return;
  std::optional<json::object> meta = std::move(found->second.presenceMeta);
  const std::string key = found->second.presenceKey;
  client.channels.erase(found);
  if (meta) {
    sendPresenceDiff(topic, {}, json::object{{key, json::object{{"metas", json::array{*meta}}}}});
  }
}

void RealtimeHub::reply(Client& client, const Frame& to, std::string_view status,
                        json::object response) {
  Frame answer{to.joinRef, to.ref, to.topic, "phx_reply",
               json::object{{"status", status}, {"response", std::move(response)}}};
  client.socket->sendText(writeFrame(answer, client.format));
}

void RealtimeHub::close(Client& client, const std::string& topic) {
  auto found = client.channels.find(topic);
  if (found == client.channels.end()) return;
  // The join reference in both slots: clients take a lifecycle event as their channel's only
  // when its reference is the join's.
  const auto& joinRef = found->second.joinRef;
  client.socket->sendText(
      writeFrame(Frame{joinRef, joinRef, topic, "phx_close", {}}, client.format));
  removeChannel(client, topic);
}

void RealtimeHub::push(Client& client, const std::string& topic, std::string event,
                       json::object payload) {
  auto found = client.channels.find(topic);
  if (found == client.channels.end()) return;
  Frame frame{found->second.joinRef, std::nullopt, topic, std::move(event), std::move(payload)};
  client.socket->sendText(writeFrame(frame, client.format));
}

void RealtimeHub::fanOut(const std::string& topic, const json::object& payload,
                         std::string_view event, const Client* except) {
  // A channel whose token has expired hears nothing more: it ends first, as at its next frame.
  for (auto& [id, client] : clients_) {
    if (&client != except && client.channels.contains(topic)) expireTokens(client);
  }
  Frame frame{std::nullopt, std::nullopt, topic, std::string(event), payload};
  std::optional<std::string> texts[2];
  for (auto& [id, client] : clients_) {
    if (&client == except || !client.channels.contains(topic)) continue;
    auto& text = texts[client.format == FrameFormat::array ? 0 : 1];
    if (!text) text = writeFrame(frame, client.format);
    client.socket->sendText(*text);
  }
}

void RealtimeHub::sendPresenceDiff(const std::string& topic, const json::object& joins,
                                   const json::object& leaves) {
  fanOut(topic, json::object{{"joins", joins}, {"leaves", leaves}}, "presence_diff", nullptr);
}

json::object RealtimeHub::presenceState(const std::string& topic) const {
  json::object state;
  for (const auto& [id, client] : clients_) {
    auto found = client.channels.find(topic);
    if (found == client.channels.end() || !found->second.presenceMeta) continue;
    auto& entry = state[found->second.presenceKey];
    if (!entry.is_object()) entry = json::object{{"metas", json::array{}}};
    entry.as_object()["metas"].as_array().push_back(*found->second.presenceMeta);
  }
  return state;
}

void RealtimeHub::publish(const RowChange& change) {
  const Table* table = catalog_.find(change.table);
  if (table == nullptr) return;
  const json::object& row = change.type == "DELETE" ? change.oldRecord : change.record;
  std::vector<Delivery> deliveries;
  {
    std::lock_guard lock(mutex_);
    for (auto& [id, client] : clients_) {
      expireTokens(client);
      for (const auto& [topic, channel] : client.channels) {
        json::array ids;
        for (const auto& subscription : channel.postgres) {
          if (wantsEvent(subscription.event, change.type) &&
              (!subscription.table || *subscription.table == change.table) &&
              (!subscription.filter || subscription.filter->matches(row))) {
            ids.push_back(subscription.id);
          }
        }
        if (ids.empty()) continue;
        deliveries.push_back(
            Delivery{client.socket, client.format, topic, channel.joinRef, channel.caller, ids});
      }
    }
  }
  if (deliveries.empty()) return;
  json::object data{{"schema", "public"},
                    {"table", change.table},
                    {"commit_timestamp",
                     formatTimestampZulu(std::chrono::time_point_cast<std::chrono::microseconds>(
                         std::chrono::system_clock::now()))},
                    {"type", change.type},
                    {"columns", columnsOf(*table)},
                    {"errors", nullptr}};
  if (change.type != "DELETE") data["record"] = change.record;
  if (change.type != "INSERT") data["old_record"] = change.oldRecord;
  for (auto& delivery : deliveries) {
    if (!mayRead(*table, delivery.caller, row)) continue;
    Frame frame{delivery.joinRef, std::nullopt, delivery.topic, "postgres_changes",
                json::object{{"ids", std::move(delivery.ids)}, {"data", data}}};
    delivery.socket->sendText(writeFrame(frame, delivery.format));
  }
}

bool RealtimeHub::mayRead(const Table& table, const Caller& caller, const json::object& row) const {
  SqlParams params;
  std::optional<std::string> condition;
  try {
    condition = AccessRules::readCondition(table, caller, {}, params);
  } catch (const RestError&) {
    return false;
  }
  if (!condition) return true;
  // The rule is SQL over the table's columns: evaluate it over a one-row table of this row.
  std::string columns;
  for (const auto& column : table.columns) {
    const auto* cell = row.if_contains(column.name);
    std::optional<std::string> value;
    if (cell != nullptr && !cell->is_null()) {
      value = cell->is_string() ? std::string(cell->as_string()) : json::serialize(*cell);
    }
    columns +=
        (columns.empty() ? "" : ", ") + params.add(value) + " AS " + quoteIdentifier(column.name);
  }
  const std::string sql = "SELECT 1 FROM (SELECT " + columns + ") AS " +
                          quoteIdentifier(table.name) + " WHERE " + *condition;
  return database_.transaction([&](Connection& connection) {
    Statement statement = connection.prepare(sql);
    params.bindTo(statement);
    return statement.step();
  });
}

void RealtimeHub::broadcast(const json::array& messages) {
  std::vector<std::pair<std::string, json::object>> sends;
  for (const auto& message : messages) {
    if (!message.is_object()) throw FrameError("each message must be an object");
    const auto& fields = message.as_object();
    const auto topic = stringMember(&fields, "topic");
    const auto event = stringMember(&fields, "event");
    if (!topic || !event) throw FrameError("each message needs a \"topic\" and an \"event\"");
    json::object payload;
    if (const auto* given = objectMember(fields, "payload")) payload = *given;
    const std::string channel = topic->starts_with("realtime:") ? *topic : "realtime:" + *topic;
    sends.emplace_back(
        channel,
        json::object{{"type", "broadcast"}, {"event", *event}, {"payload", std::move(payload)}});
  }
  std::lock_guard lock(mutex_);
  for (const auto& [topic, payload] : sends) fanOut(topic, payload, "broadcast", nullptr);
}

std::vector<RealtimeHub::MembershipFrame> RealtimeHub::membershipFrames(
    std::string_view topic) const {
  std::lock_guard lock(mutex_);
  std::vector<MembershipFrame> frames;
  for (const auto& [frameTopic, frame] : membership_) {
    if (frameTopic == topic) frames.push_back(frame);
  }
  return frames;
}

std::vector<std::uint64_t> RealtimeHub::sockets() const {
  std::lock_guard lock(mutex_);
  std::vector<std::uint64_t> ids;
  for (const auto& entry : clients_) ids.push_back(entry.first);
  return ids;
}

std::optional<HandshakeHeaders> RealtimeHub::handshakeHeaders(std::uint64_t socket) const {
  std::lock_guard lock(mutex_);
  auto found = clients_.find(socket);
  if (found == clients_.end()) return std::nullopt;
  return found->second.headers;
}

bool RealtimeHub::sendRaw(std::uint64_t socket, std::string text, bool binary) {
  std::lock_guard lock(mutex_);
  auto found = clients_.find(socket);
  if (found == clients_.end()) return false;
  if (binary) {
    found->second.socket->sendBinary(std::move(text));
  } else {
    found->second.socket->sendText(std::move(text));
  }
  return true;
}

bool RealtimeHub::close(std::uint64_t socket, int code, std::string reason) {
  std::lock_guard lock(mutex_);
  auto found = clients_.find(socket);
  if (found == clients_.end()) return false;
  found->second.socket->close(code, std::move(reason));
  return true;
}

bool RealtimeHub::pause(std::uint64_t socket) {
  std::lock_guard lock(mutex_);
  auto found = clients_.find(socket);
  if (found == clients_.end()) return false;
  found->second.paused = true;
  return true;
}

bool RealtimeHub::resume(std::uint64_t socket) {
  std::lock_guard lock(mutex_);
  auto found = clients_.find(socket);
  if (found == clients_.end()) return false;
  Client& client = found->second;
  client.paused = false;
  std::vector<std::string> held;
  held.swap(client.held);
  for (const auto& text : held) receiveFrame(client, text);
  return true;
}

void RealtimeHub::pauseNewSockets(bool paused) {
  std::lock_guard lock(mutex_);
  pauseNewSockets_ = paused;
}

std::size_t RealtimeHub::heldFrames(std::uint64_t socket) const {
  std::lock_guard lock(mutex_);
  auto found = clients_.find(socket);
  return found == clients_.end() ? 0 : found->second.held.size();
}

std::uint64_t RealtimeHub::socketsAttached() const {
  std::lock_guard lock(mutex_);
  return nextSocket_;
}

std::size_t RealtimeHub::changeSubscriptions(const std::string& topic) const {
  std::lock_guard lock(mutex_);
  std::size_t count = 0;
  for (const auto& [id, client] : clients_) {
    if (auto found = client.channels.find(topic); found != client.channels.end()) {
      count += found->second.postgres.size();
    }
  }
  return count;
}

bool RealtimeHub::drop(std::uint64_t socket) {
  std::lock_guard lock(mutex_);
  auto found = clients_.find(socket);
  if (found == clients_.end()) return false;
  found->second.socket->drop();
  return true;
}

}  // namespace local_backend
