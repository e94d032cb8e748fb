// The rows of the "messages" table as the end-to-end tests and the select benchmark read and
// write them, with their Boost.JSON conversions.
#pragma once

#include <boost/json/value.hpp>
#include <boost/json/value_from.hpp>
#include <boost/json/value_to.hpp>
#include <string>
#include <string_view>

namespace voduzazi::testing {

struct Message {
  std::string id;
  std::string senderId;
  std::string receiverId;
  std::string content;
  std::string createdAt;
};

inline Message tag_invoke(boost::json::value_to_tag<Message>, const boost::json::value& json) {
  const auto& row = json.as_object();
  auto text = [&](std::string_view key) { return std::string(row.at(key).as_string()); };
  return {text("id"), text("sender_id"), text("receiver_id"), text("content"), text("created_at")};
}

// What a user writes: the server fills the id and the time.
struct NewMessage {
  std::string senderId;
  std::string receiverId;
  std::string content;
};

inline void tag_invoke(boost::json::value_from_tag, boost::json::value& json,
                       const NewMessage& message) {
  json = {{"sender_id", message.senderId},
          {"receiver_id", message.receiverId},
          {"content", message.content}};
}

}  // namespace voduzazi::testing
