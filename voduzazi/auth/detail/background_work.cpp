#include "voduzazi/auth/detail/background_work.hpp"

#include <algorithm>
#include <iterator>
#include <vector>

namespace voduzazi::auth::detail {
namespace {

// The clients whose work this thread runs, innermost last.
thread_local std::vector<std::int64_t> runningWorkOf;

}  // namespace

BackgroundWorkScope::BackgroundWorkScope(std::int64_t clientID) : clientID_(clientID) {
  runningWorkOf.push_back(clientID);
}

BackgroundWorkScope::~BackgroundWorkScope() {
  runningWorkOf.erase(
      std::next(std::find(runningWorkOf.rbegin(), runningWorkOf.rend(), clientID_)).base());
}

bool isBackgroundWorkOf(std::int64_t clientID) {
  return std::find(runningWorkOf.begin(), runningWorkOf.end(), clientID) != runningWorkOf.end();
}

}  // namespace voduzazi::auth::detail
