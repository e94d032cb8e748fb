#include "voduzazi/realtime/presence.hpp"

#include <algorithm>

#include "voduzazi/realtime/realtime_channel.hpp"

namespace voduzazi::realtime {
namespace {

using Meta = Presence::Meta;
using Metas = std::vector<Meta>;

std::optional<std::string> refOf(const Meta& meta) {
  const auto found = meta.find("phx_ref");
  if (found == meta.end() || found->second.stringValue() == nullptr) return std::nullopt;
  return *found->second.stringValue();
}

std::vector<std::string> refsOf(const Metas& metas) {
  std::vector<std::string> refs;
  for (const auto& meta : metas) {
    if (auto ref = refOf(meta)) refs.push_back(std::move(*ref));
  }
  return refs;
}

// The metas whose reference is not among `refs` (a meta without one never is).
Metas without(const Metas& metas, const std::vector<std::string>& refs) {
  Metas kept;
  for (const auto& meta : metas) {
    const auto ref = refOf(meta);
    if (!ref || std::find(refs.begin(), refs.end(), *ref) == refs.end()) kept.push_back(meta);
  }
  return kept;
}

const Metas& metasOf(const Presence::Map& presence) {
  static const Metas none;
  const auto found = presence.find("metas");
  return found == presence.end() ? none : found->second;
}

Presence::Map withMetas(Presence::Map presence, Metas metas) {
  presence["metas"] = std::move(metas);
  return presence;
}

std::optional<Presence::Map> mapFrom(const AnyJSON& value) {
  const auto* object = value.objectValue();
  if (object == nullptr) return std::nullopt;
  Presence::Map presence;
  for (const auto& [name, list] : *object) {
    const auto* array = list.arrayValue();
    if (array == nullptr) return std::nullopt;
    Metas metas;
    for (const auto& meta : *array) {
      if (meta.objectValue() == nullptr) return std::nullopt;
      metas.push_back(*meta.objectValue());
    }
    presence.emplace(name, std::move(metas));
  }
  return presence;
}

}  // namespace

Presence::Options Presence::Options::defaults() {
  return Options{{{Events::state, "presence_state"}, {Events::diff, "presence_diff"}}};
}

Presence::Presence(const std::shared_ptr<RealtimeChannel>& channel)
    : channel_(channel), strand_(channel->strand()) {}

std::shared_ptr<Presence> Presence::make(const std::shared_ptr<RealtimeChannel>& channel,
                                         const Options& options) {
  std::shared_ptr<Presence> presence(new Presence(channel));
  const auto state = options.events.find(Events::state);
  const auto diff = options.events.find(Events::diff);
  if (state == options.events.end() || diff == options.events.end()) return presence;
  channel->delegateOn(state->second, {}, presence,
                      [](Presence& p, const RealtimeMessage& m) { p.stateReceived(m); });
  channel->delegateOn(diff->second, {}, presence,
                      [](Presence& p, const RealtimeMessage& m) { p.diffReceived(m); });
  return presence;
}

void Presence::onJoin(OnJoin callback) {
  strand_->sync([&] { onJoin_ = std::move(callback); });
}
void Presence::onLeave(OnLeave callback) {
  strand_->sync([&] { onLeave_ = std::move(callback); });
}
void Presence::onSync(OnSync callback) {
  strand_->sync([&] { onSync_ = std::move(callback); });
}
Presence::OnJoin Presence::onJoin() const {
  return strand_->call([&] { return onJoin_; });
}
Presence::OnLeave Presence::onLeave() const {
  return strand_->call([&] { return onLeave_; });
}
Presence::OnSync Presence::onSync() const {
  return strand_->call([&] { return onSync_; });
}

Presence::State Presence::state() const {
  return strand_->call([&] { return state_; });
}
std::vector<Presence::Diff> Presence::pendingDiffs() const {
  return strand_->call([&] { return pendingDiffs_; });
}
std::optional<std::string> Presence::joinRef() const {
  return strand_->call([&] { return joinRef_; });
}
bool Presence::isPendingSyncState() const {
  return strand_->call([&] { return pendingNow(); });
}

bool Presence::pendingNow() const {
  const auto channel = channel_.lock();
  if (!joinRef_ || !channel) return true;
  return channel->joinRef() != joinRef_;
}

std::vector<Presence::Map> Presence::list() const {
  std::vector<Map> presences;
  for (const auto& [key, presence] : state()) presences.push_back(presence);
  return presences;
}

Presence::State Presence::filter(
    const std::function<bool(const std::string&, const Map&)>& predicate) const {
  return filter(state(), predicate);
}

Presence::State Presence::filter(const State& state,
                                 const std::function<bool(const std::string&, const Map&)>& by) {
  State kept;
  for (const auto& [key, presence] : state) {
    if (!by || by(key, presence)) kept.emplace(key, presence);
  }
  return kept;
}

namespace {

// `callback`, which does nothing once the strand is closed (its client released by an earlier
// callback).
template <class Callback>
Callback unlessClosed(const std::shared_ptr<Strand>& strand, const Callback& callback) {
  if (!callback) return callback;
  return [strand, callback](const auto&... arguments) {
    if (!strand->isClosedByCurrentWork()) callback(arguments...);
  };
}

}  // namespace

void Presence::stateReceived(const RealtimeMessage& message) {
  const auto received = stateFrom(message.rawPayload);
  if (!received) return;
  const auto channel = channel_.lock();
  joinRef_ = channel ? channel->joinRef() : std::nullopt;
  // Copies: a callback may replace them.
  const OnJoin onJoin = unlessClosed(strand_, onJoin_);
  const OnLeave onLeave = unlessClosed(strand_, onLeave_);
  const OnSync onSync = unlessClosed(strand_, onSync_);
  state_ = syncState(state_, *received, onJoin, onLeave);
  for (const auto& diff : std::exchange(pendingDiffs_, {})) {
    state_ = syncDiff(state_, diff, onJoin, onLeave);
  }
  onSync();
}

void Presence::diffReceived(const RealtimeMessage& message) {
  auto diff = diffFrom(message.rawPayload);
  if (!diff) return;
  if (pendingNow()) {
    pendingDiffs_.push_back(std::move(*diff));
    return;
  }
  const OnJoin onJoin = unlessClosed(strand_, onJoin_);
  const OnLeave onLeave = unlessClosed(strand_, onLeave_);
  const OnSync onSync = unlessClosed(strand_, onSync_);
  state_ = syncDiff(state_, *diff, onJoin, onLeave);
  onSync();
}

Presence::State Presence::syncState(const State& state, const State& newState, const OnJoin& onJoin,
                                    const OnLeave& onLeave) {
  State joins;
  State leaves;
  for (const auto& [key, presence] : state) {
    if (!newState.contains(key)) leaves.emplace(key, presence);
  }
  for (const auto& [key, presence] : newState) {
    const auto current = state.find(key);
    if (current == state.end()) {
      joins.emplace(key, presence);
      continue;
    }
    const Metas joined = without(metasOf(presence), refsOf(metasOf(current->second)));
    const Metas left = without(metasOf(current->second), refsOf(metasOf(presence)));
    if (!joined.empty()) joins.emplace(key, withMetas(presence, joined));
    if (!left.empty()) leaves.emplace(key, withMetas(current->second, left));
  }
  return syncDiff(state, Diff{{"joins", std::move(joins)}, {"leaves", std::move(leaves)}}, onJoin,
                  onLeave);
}

Presence::State Presence::syncDiff(const State& state, const Diff& diff, const OnJoin& onJoin,
                                   const OnLeave& onLeave) {
  State result = state;
  if (const auto joins = diff.find("joins"); joins != diff.end()) {
    for (const auto& [key, joined] : joins->second) {
      std::optional<Map> current;
      if (const auto found = result.find(key); found != result.end()) current = found->second;
      Map stored = joined;
      if (current) {
        Metas metas = without(metasOf(*current), refsOf(metasOf(joined)));
        const Metas& added = metasOf(joined);
        metas.insert(metas.end(), added.begin(), added.end());
        stored["metas"] = std::move(metas);
      }
      result[key] = std::move(stored);
      if (onJoin) onJoin(key, current, joined);
    }
  }
  if (const auto leaves = diff.find("leaves"); leaves != diff.end()) {
    for (const auto& [key, left] : leaves->second) {
      const auto found = result.find(key);
      if (found == result.end()) continue;
      const Map reduced =
          withMetas(found->second, without(metasOf(found->second), refsOf(metasOf(left))));
      if (onLeave) onLeave(key, reduced, left);
      if (metasOf(reduced).empty()) {
        result.erase(key);
      } else {
        result[key] = reduced;
      }
    }
  }
  return result;
}

std::optional<Presence::State> Presence::stateFrom(const JSONObject& payload) {
  State state;
  for (const auto& [key, value] : payload) {
    auto presence = mapFrom(value);
    if (!presence) return std::nullopt;
    state.emplace(key, std::move(*presence));
  }
  return state;
}

std::optional<Presence::Diff> Presence::diffFrom(const JSONObject& payload) {
  Diff diff;
  for (const auto& [kind, value] : payload) {
    const auto* object = value.objectValue();
    if (object == nullptr) return std::nullopt;
    auto state = stateFrom(*object);
    if (!state) return std::nullopt;
    diff.emplace(kind, std::move(*state));
  }
  return diff;
}

JSONObject Presence::toJSON(const State& state) {
  JSONObject json;
  for (const auto& [key, presence] : state) {
    JSONObject map;
    for (const auto& [name, metas] : presence) {
      JSONArray list;
      for (const auto& meta : metas) list.emplace_back(meta);
      map.emplace(name, std::move(list));
    }
    json.emplace(key, std::move(map));
  }
  return json;
}

}  // namespace voduzazi::realtime
