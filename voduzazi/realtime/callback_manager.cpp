#include "voduzazi/realtime/callback_manager.hpp"

#include <algorithm>

#include "voduzazi/concurrency/this_task.hpp"
#include "voduzazi/realtime/detail/lowercased.hpp"

namespace voduzazi::realtime {

CallbackManager::~CallbackManager() { mutableState_.setValue(MutableState{}); }

int CallbackManager::add(RealtimeCallback callback) {
  return mutableState_.withValue([&](MutableState& state) {
    const int id = ++state.id;
    std::visit([id](auto& entry) { entry.id = id; }, callback);
    state.callbacks.push_back(std::move(callback));
    return id;
  });
}

int CallbackManager::addPostgresCallback(PostgresJoinConfig filter,
                                         std::function<void(const AnyAction&)> callback) {
  return add(PostgresCallback{0, std::move(filter), std::move(callback)});
}

int CallbackManager::addBroadcastCallback(std::string event,
                                          std::function<void(const JSONObject&)> callback) {
  return add(BroadcastCallback{0, std::move(event), std::move(callback)});
}

int CallbackManager::addPresenceCallback(std::function<void(const PresenceAction&)> callback) {
  return add(PresenceCallback{0, std::move(callback)});
}

int CallbackManager::addSystemCallback(std::function<void(const RealtimeMessageV2&)> callback) {
  return add(SystemCallback{0, std::move(callback)});
}

void CallbackManager::removeCallback(int id) {
  mutableState_.withValue([id](MutableState& state) {
    std::erase_if(state.callbacks, [id](const RealtimeCallback& callback) {
      return std::visit([](const auto& entry) { return entry.id; }, callback) == id;
    });
  });
}

void CallbackManager::setServerChanges(std::vector<PostgresJoinConfig> changes) {
  mutableState_.withValue([&](MutableState& state) { state.serverChanges = std::move(changes); });
}

template <class Kind>
std::vector<Kind> CallbackManager::snapshot() const {
  return mutableState_.read([](const MutableState& state) {
    std::vector<Kind> entries;
    for (const auto& callback : state.callbacks) {
      if (const auto* entry = std::get_if<Kind>(&callback)) entries.push_back(*entry);
    }
    return entries;
  });
}

bool CallbackManager::hasPresenceCallbacks() const {
  return mutableState_.read([](const MutableState& state) {
    return std::any_of(state.callbacks.begin(), state.callbacks.end(), [](const auto& callback) {
      return std::holds_alternative<PresenceCallback>(callback);
    });
  });
}

void CallbackManager::triggerPostgresChanges(const std::vector<std::int64_t>& ids,
                                             const AnyAction& data) {
  const MutableState state = mutableState_.value();
  std::vector<PostgresJoinConfig> confirmed;
  for (const auto& change : state.serverChanges) {
    if (std::find(ids.begin(), ids.end(), change.id) != ids.end()) confirmed.push_back(change);
  }
  for (const auto& callback : state.callbacks) {
    const auto* entry = std::get_if<PostgresCallback>(&callback);
    if (entry == nullptr) continue;
    const bool wanted = std::any_of(confirmed.begin(), confirmed.end(), [&](const auto& change) {
      return matches(entry->filter, change);
    });
    if (wanted && !this_task::isCancelled()) entry->callback(data);
  }
}

void CallbackManager::triggerBroadcast(std::string_view event, const JSONObject& json) {
  const std::string wanted = detail::lowercased(event);
  for (const auto& entry : snapshot<BroadcastCallback>()) {
    if (this_task::isCancelled()) return;
    if (entry.event == "*" || detail::lowercased(entry.event) == wanted) entry.callback(json);
  }
}

void CallbackManager::triggerPresenceDiff(const Presences& joins, const Presences& leaves,
                                          const RealtimeMessageV2& rawMessage) {
  for (const auto& entry : snapshot<PresenceCallback>()) {
    if (this_task::isCancelled()) return;
    entry.callback(PresenceActionImpl(joins, leaves, rawMessage));
  }
}

void CallbackManager::triggerSystem(const RealtimeMessageV2& message) {
  for (const auto& entry : snapshot<SystemCallback>()) {
    if (this_task::isCancelled()) return;
    entry.callback(message);
  }
}

}  // namespace voduzazi::realtime
