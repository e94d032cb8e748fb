// TapwickError: the app's own errors, shown to the user as their message.
//
//   throw TapwickError(TapwickError::notLoggedInToConnect);   // "Not logged in", code 1
//   catch (const std::exception& e) { error = errorDescription(e); }
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
  };

  explicit TapwickError(Code code);

  static constexpr const char* domain = "Tapwick";
  Code code() const noexcept { return code_; }

 private:
  Code code_;
};

// The text a view shows for a failure: what() of a std::exception, else a fixed text.
std::string errorDescription(const std::exception_ptr& error);

}  // namespace tapwick
