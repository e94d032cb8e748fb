// Presence: who the server reports as present on a channel's topic. It merges the full state the
// server sends after each join ("presence_state") and the diffs that follow ("presence_diff"),
// holds back diffs that arrive before the state of the current join, and reports joins, leaves
// and syncs.
//
//   auto presence = channel->presence();
//   presence->onJoin([](const std::string& key, const auto& current, const auto& joined) {});
//   presence->onSync([&] { show(presence->list()); });
//   Presence::State next = Presence::syncDiff(state, diff, onJoin, onLeave);   // pure
//
// Shared objects: safe; the handlers and callbacks run on the channel's strand.
// Lifetime: owned by its channel; holds the channel weakly.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "voduzazi/helpers/any_json.hpp"
#include "voduzazi/realtime/realtime_message.hpp"
#include "voduzazi/realtime/strand.hpp"

namespace voduzazi::realtime {

class RealtimeChannel;

class Presence : public std::enable_shared_from_this<Presence> {
 public:
  // One connection's meta: "phx_ref" plus whatever the client tracked.
  using Meta = JSONObject;
  // One key's presence: its metas under "metas".
  using Map = std::map<std::string, std::vector<Meta>>;
  using State = std::map<std::string, Map>;
  // "joins" and "leaves".
  using Diff = std::map<std::string, State>;

  using OnJoin = std::function<void(const std::string& key, const std::optional<Map>& current,
                                    const Map& joined)>;
  using OnLeave = std::function<void(const std::string& key, const Map& current, const Map& left)>;
  using OnSync = std::function<void()>;

  enum class Events { state, diff };
  struct Options {
    std::map<Events, std::string> events;
    // {state: "presence_state", diff: "presence_diff"}.
    static Options defaults();
  };

  // Listens to the channel's state and diff events (neither when either name is missing).
  static std::shared_ptr<Presence> make(const std::shared_ptr<RealtimeChannel>& channel,
                                        const Options& options = Options::defaults());

  void onJoin(OnJoin callback);
  void onLeave(OnLeave callback);
  void onSync(OnSync callback);
  // The callbacks in place (each does nothing until replaced).
  OnJoin onJoin() const;
  OnLeave onLeave() const;
  OnSync onSync() const;

  State state() const;
  std::vector<Diff> pendingDiffs() const;
  std::optional<std::string> joinRef() const;
  // True until a state arrives for the channel's current join.
  bool isPendingSyncState() const;
  std::vector<Map> list() const;
  // One value per key, in key order.
  template <class Transformer>
  auto list(Transformer by) const;
  // listBy for any state.
  template <class Transformer>
  static auto listBy(const State& state, Transformer transformer);
  // The entries the predicate keeps (all of them without one).
  State filter(const std::function<bool(const std::string&, const Map&)>& predicate) const;
  // filter for any state.
  static State filter(const State& state,
                      const std::function<bool(const std::string&, const Map&)>& by);

  // The next state after `newState` replaces `state`, reporting the metas that joined and left.
  static State syncState(const State& state, const State& newState, const OnJoin& onJoin,
                         const OnLeave& onLeave);
  // The next state after the diff's joins, then its leaves.
  static State syncDiff(const State& state, const Diff& diff, const OnJoin& onJoin,
                        const OnLeave& onLeave);

  // Received payloads in these shapes; nothing when any value has another shape. A presence
  // without "metas" has none.
  static std::optional<State> stateFrom(const JSONObject& payload);
  static std::optional<Diff> diffFrom(const JSONObject& payload);
  static JSONObject toJSON(const State& state);

 private:
  Presence(const std::shared_ptr<RealtimeChannel>& channel);
  void stateReceived(const RealtimeMessage& message);
  void diffReceived(const RealtimeMessage& message);
  bool pendingNow() const;

  const std::weak_ptr<RealtimeChannel> channel_;
  const std::shared_ptr<Strand> strand_;

  // Strand-only state.
  OnJoin onJoin_ = [](const std::string&, const std::optional<Map>&, const Map&) {};
  OnLeave onLeave_ = [](const std::string&, const Map&, const Map&) {};
  OnSync onSync_ = [] {};
  State state_;
  std::vector<Diff> pendingDiffs_;
  std::optional<std::string> joinRef_;
};

// Implementation.

template <class Transformer>
auto Presence::listBy(const State& state, Transformer transformer) {
  std::vector<std::invoke_result_t<Transformer&, const std::string&, const Map&>> values;
  for (const auto& [key, presence] : state) values.push_back(transformer(key, presence));
  return values;
}

template <class Transformer>
auto Presence::list(Transformer by) const {
  return listBy(state(), std::move(by));
}

}  // namespace voduzazi::realtime
