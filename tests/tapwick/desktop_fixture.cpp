// What the desktop test does to the backend beside the apps: makes users, reads what the apps
// stored, renames a user and sends a message, through the library alone.
//   desktop_fixture URL KEY users EMAIL...           signs each up, with a profile
//   desktop_fixture URL KEY pair INVITER REDEEMER    pairs them through an invite code
//   desktop_fixture URL KEY send SENDER TEXT         sends TEXT to the sender's first friend
//   desktop_fixture URL KEY invite-codes EMAIL       prints the user's stored invite codes
//   desktop_fixture URL SERVICE_KEY rename EMAIL NAME   sets the user name of EMAIL's profile
#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/parse.hpp>
#include <boost/uuid/uuid_io.hpp>
#include <cctype>
#include <iostream>
#include <memory>
#include <string>

#include "tapwick/server_rows.hpp"
#include "voduzazi/auth/auth_local_storage.hpp"
#include "voduzazi/client/voduzazi_client.hpp"

namespace {

constexpr const char* kPassword = "correct horse";

struct SignedIn {
  std::unique_ptr<voduzazi::VoduzaziClient> client;
  std::string id;
};

std::unique_ptr<voduzazi::VoduzaziClient> newClient(const std::string& url,
                                                    const std::string& key) {
  voduzazi::VoduzaziClientOptions options;
  options.auth.storage = std::make_shared<voduzazi::auth::InMemoryAuthLocalStorage>();
  return std::make_unique<voduzazi::VoduzaziClient>(url, key, options);
}

SignedIn signIn(const std::string& url, const std::string& key, const std::string& email) {
  SignedIn user{newClient(url, key), {}};
  user.id = boost::uuids::to_string(user.client->auth().signIn(email, kPassword).user.id);
  return user;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::cerr << "usage: desktop_fixture URL KEY users|pair|send ARGS...\n";
    return 2;
  }
  const std::string url = argv[1], key = argv[2], command = argv[3];
  try {
    if (command == "users") {
      for (int i = 4; i < argc; ++i) {
        auto client = newClient(url, key);
        const std::string email = argv[i];
        const auto user = client->auth().signUp(email, kPassword).user();
        client->from("profiles")
            .insert(boost::json::object{{"id", boost::uuids::to_string(user.id)},
                                        {"username", email.substr(0, email.find('@'))},
                                        {"email", email}})
            .execute();
      }
    } else if (command == "pair" && argc == 6) {
      const SignedIn inviter = signIn(url, key, argv[4]);
      const SignedIn redeemer = signIn(url, key, argv[5]);
      const std::string code = tapwick::newUppercaseUUID().substr(0, 8);
      inviter.client->from("friend_invites")
          .insert(boost::json::object{{"inviter", inviter.id}, {"code", code}})
          .execute();
      redeemer.client->from("friends")
          .insert(boost::json::array{
              boost::json::object{{"user_id", redeemer.id}, {"friend_id", inviter.id}},
              boost::json::object{{"user_id", inviter.id}, {"friend_id", redeemer.id}}})
          .execute();
    } else if (command == "send" && argc == 6) {
      const SignedIn sender = signIn(url, key, argv[4]);
      const auto friends = tapwick::readFriendIds(sender.client->from("friends")
                                                      .select("friend_id")
                                                      .eq("user_id", sender.id)
                                                      .execute()
                                                      .data);
      if (friends.empty()) throw std::runtime_error("the sender has no friend");
      sender.client->from("messages")
          .insert(boost::json::object{
              {"sender_id", sender.id}, {"receiver_id", friends.front()}, {"content", argv[5]}})
          .execute();
    } else if (command == "invite-codes" && argc == 5) {
      const SignedIn inviter = signIn(url, key, argv[4]);
      std::string id = inviter.id;
      for (char& c : id) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      const auto response =
          inviter.client->from("friend_invites").select("code").eq("inviter", id).execute();
      const boost::json::value rows = boost::json::parse(response.data);
      for (const auto& row : rows.as_array()) {
        std::cout << row.as_object().at("code").as_string().c_str() << "\n";
      }
    } else if (command == "rename" && argc == 6) {
      // With the service key the access rules let the change through.
      newClient(url, key)
          ->from("profiles")
          .update(boost::json::object{{"username", argv[5]}})
          .eq("email", argv[4])
          .execute();
    } else {
      std::cerr << "desktop_fixture: unknown command " << command << "\n";
      return 2;
    }
  } catch (const std::exception& error) {
    std::cerr << "desktop_fixture: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
