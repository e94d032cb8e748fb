#include "tapwick/tapwick_error.hpp"

#include "voduzazi/helpers/url_error.hpp"

namespace tapwick {

namespace {

const char* messageOf(TapwickError::Code code) {
  switch (code) {
    case TapwickError::notLoggedInToConnect:
    case TapwickError::notLoggedInToInvite:
    case TapwickError::notLoggedInToSend:
      return "Not logged in";
    case TapwickError::invalidInviteCode:
      return "Invalid invite code";
    case TapwickError::noFriendToSendTo:
      return "No friend to send to";
    case TapwickError::ownInviteCode:
      return "This is your own invite code";
    case TapwickError::sendTimedOut:
      return "The request timed out. The message may still have arrived.";
  }
  return "Unknown error";
}

}  // namespace

TapwickError::TapwickError(Code code) : std::runtime_error(messageOf(code)), code_(code) {}

std::string errorDescription(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "The operation couldn't be completed.";
  }
}

std::string localizedDescription(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const voduzazi::URLError& e) {
    return e.localizedDescription();
  } catch (...) {
    return errorDescription(error);
  }
}

}  // namespace tapwick
