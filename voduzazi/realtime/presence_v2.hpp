// Presence on a second-generation channel: one member's presence (PresenceV2), read from the
// first meta of a "presence_state" or "presence_diff" entry, and the joins and leaves handed to
// presence callbacks.
//
//   channel->onPresenceChange([](const PresenceAction& change) {
//     for (const User& user : change.decodeJoins<User>()) greet(user);   // the tracked states
//     for (const auto& [key, presence] : change.leaves()) farewell(key, presence.ref);
//   });
#pragma once

#include <boost/json/value.hpp>
#include <map>
#include <string>
#include <vector>

#include "voduzazi/helpers/any_json.hpp"
#include "voduzazi/helpers/json_coders.hpp"
#include "voduzazi/realtime/realtime_message_v2.hpp"

namespace voduzazi::realtime {

struct PresenceV2 {
  std::string ref;   // the first meta's "phx_ref"
  JSONObject state;  // the first meta without "phx_ref"

  // Reads {"metas": [{"phx_ref": ..., ...}, ...]}; throws DecodingError (typeMismatch) with the
  // description "A presence should at least have a phx_ref." when there is no first meta object
  // (path ... "metas", "Index 0") or it has no string "phx_ref" (path ... "phx_ref").
  static PresenceV2 fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                             const CodingPath& path = {});
  // {"phx_ref": ref, "state": state}: not the form fromJSON reads.
  boost::json::value toJSON(const JSONEncoder& encoder) const;

  // The state decoded as the caller's type; throws the decoder's DecodingError.
  template <class T>
  T decodeState(const JSONDecoder& decoder = *AnyJSON::decoder()) const {
    return decode<T>(state, decoder);
  }

  friend bool operator==(const PresenceV2&, const PresenceV2&) = default;
};

using Presences = std::map<std::string, PresenceV2>;

// Presence entries by key (a "presence_state" payload, or a diff's "joins" or "leaves");
// throws DecodingError when one entry does not read.
Presences decodePresences(const JSONObject& entries);

// Who joined and who left, and the frame that said so.
class PresenceAction {
 public:
  virtual ~PresenceAction() = default;
  virtual const Presences& joins() const = 0;
  virtual const Presences& leaves() const = 0;
  virtual const RealtimeMessageV2& rawMessage() const = 0;

  // The states of the joins (or leaves) as the caller's type, in no defined order. With
  // `ignoreOtherTypes` a state that does not decode is skipped; without, its error is thrown.
  template <class T>
  std::vector<T> decodeJoins(bool ignoreOtherTypes = true,
                             const JSONDecoder& decoder = *AnyJSON::decoder()) const {
    return decodeStates<T>(joins(), ignoreOtherTypes, decoder);
  }
  template <class T>
  std::vector<T> decodeLeaves(bool ignoreOtherTypes = true,
                              const JSONDecoder& decoder = *AnyJSON::decoder()) const {
    return decodeStates<T>(leaves(), ignoreOtherTypes, decoder);
  }

 private:
  template <class T>
  static std::vector<T> decodeStates(const Presences& presences, bool ignoreOtherTypes,
                                     const JSONDecoder& decoder) {
    std::vector<T> states;
    for (const auto& [key, presence] : presences) {
      try {
        states.push_back(presence.template decodeState<T>(decoder));
      } catch (const DecodingError&) {
        if (!ignoreOtherTypes) throw;
      }
    }
    return states;
  }
};

struct PresenceActionImpl final : PresenceAction {
  Presences joinsValue;
  Presences leavesValue;
  RealtimeMessageV2 message;

  PresenceActionImpl(Presences joins, Presences leaves, RealtimeMessageV2 rawMessage)
      : joinsValue(std::move(joins)),
        leavesValue(std::move(leaves)),
        message(std::move(rawMessage)) {}
  const Presences& joins() const override { return joinsValue; }
  const Presences& leaves() const override { return leavesValue; }
  const RealtimeMessageV2& rawMessage() const override { return message; }
};

}  // namespace voduzazi::realtime
