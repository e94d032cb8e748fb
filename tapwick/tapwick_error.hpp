// TapwickError: the app's own errors, shown to the user as their message.
//
//   throw TapwickError(TapwickError::notLoggedInToConnect);   // "Not logged in", code 1
//   catch (...) { error = localizedDescription(std::current_exception()); }
#pragma once

#include <exception>
#include <stdexcept>
#include <string>

namespace tapwick {

class TapwickError : public std::runtime_error {
 public:
  enum Code {
    notLoggedInToConnect = 1,
    invalidInviteCode = 2,
    notLoggedInToInvite = 3,
    notLoggedInToSend = 4,
    noFriendToSendTo = 5,
    ownInviteCode = 6,
    // A send that timed out: the server may have stored the message all the same.
    sendTimedOut = 7,
  };

  explicit TapwickError(Code code);

  static constexpr const char* domain = "Tapwick";
  Code code() const noexcept { return code_; }

 private:
  Code code_;
};

// The text printed for a failure in the app's diagnostics: what() of a std::exception, else a
// fixed text.
std::string errorDescription(const std::exception_ptr& error);

// The text a view shows for a failure: a transport error's short sentence ("Could not connect to
// the server."), else as errorDescription.
std::string localizedDescription(const std::exception_ptr& error);

}  // namespace tapwick
