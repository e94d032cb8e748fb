// CallbackManager: the handlers registered on one second-generation channel (postgres changes,
// broadcasts, presence, system messages), and which of them each incoming message runs.
//
//   CallbackManager callbacks;
//   int id = callbacks.addBroadcastCallback("typing", [](const JSONObject& payload) { show(); });
//   callbacks.triggerBroadcast("TYPING", payload);   // event names compare without letter case
//   callbacks.removeCallback(id);
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "voduzazi/concurrency/lock_isolated.hpp"
#include "voduzazi/helpers/any_json.hpp"
#include "voduzazi/realtime/join_config.hpp"
#include "voduzazi/realtime/postgres_actions.hpp"
#include "voduzazi/realtime/presence_v2.hpp"
#include "voduzazi/realtime/realtime_message_v2.hpp"

namespace voduzazi::realtime {

struct PostgresCallback {
  int id = 0;
  PostgresJoinConfig filter;
  std::function<void(const AnyAction&)> callback;
};
struct BroadcastCallback {
  int id = 0;
  std::string event;
  std::function<void(const JSONObject&)> callback;
};
struct PresenceCallback {
  int id = 0;
  std::function<void(const PresenceAction&)> callback;
};
struct SystemCallback {
  int id = 0;
  std::function<void(const RealtimeMessageV2&)> callback;
};
using RealtimeCallback =
    std::variant<PostgresCallback, BroadcastCallback, PresenceCallback, SystemCallback>;

// Shared objects: safe. Handlers run on the triggering thread, outside the lock, in registration
// order; a handler may add or remove handlers, which counts from the next trigger on. Once the
// triggering task is cancelled (its client released, say), no further handler of it runs.
class CallbackManager {
 public:
  struct MutableState {
    int id = 0;  // the last id handed out
    std::vector<PostgresJoinConfig> serverChanges;
    std::vector<RealtimeCallback> callbacks;
  };

  CallbackManager() = default;
  ~CallbackManager();
  CallbackManager(const CallbackManager&) = delete;
  CallbackManager& operator=(const CallbackManager&) = delete;

  // Each returns the new handler's id: 1, 2, 3 ... across all kinds, never reused.
  int addPostgresCallback(PostgresJoinConfig filter,
                          std::function<void(const AnyAction&)> callback);
  int addBroadcastCallback(std::string event, std::function<void(const JSONObject&)> callback);
  int addPresenceCallback(std::function<void(const PresenceAction&)> callback);
  int addSystemCallback(std::function<void(const RealtimeMessageV2&)> callback);

  // Removes the handler with that id, whatever its kind; an unknown id changes nothing.
  void removeCallback(int id);
  // The subscriptions the server confirmed, with their ids.
  void setServerChanges(std::vector<PostgresJoinConfig> changes);

  // Runs, once each, the postgres handlers whose filter one of the confirmed subscriptions in
  // `ids` matches (see matches()).
  void triggerPostgresChanges(const std::vector<std::int64_t>& ids, const AnyAction& data);
  // Runs the broadcast handlers for "*" or for `event` (letter case ignored).
  void triggerBroadcast(std::string_view event, const JSONObject& json);
  // Runs every presence handler, each with its own action.
  void triggerPresenceDiff(const Presences& joins, const Presences& leaves,
                           const RealtimeMessageV2& rawMessage);
  void triggerSystem(const RealtimeMessageV2& message);

  MutableState state() const { return mutableState_.value(); }
  bool hasPresenceCallbacks() const;

 private:
  int add(RealtimeCallback callback);
  template <class Kind>
  std::vector<Kind> snapshot() const;

  LockIsolated<MutableState> mutableState_{MutableState{}};
};

}  // namespace voduzazi::realtime
