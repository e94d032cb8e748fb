// WatchedTransport: the real transport with the backend's misbehaviour a test asks for. It counts
// the session refreshes sent and what the server answered them, can hold a refresh's answer (a
// backend that answers late, or not at all), can refuse to reach the server for a refresh (an
// outage), and can end as a process ends: every answer still to come is then lost.
//
//   auto transport = std::make_shared<WatchedTransport>();
//   app.clientOptions = transport->options();
//   transport->holdRefreshAnswers(1s);          // the server answers, the client hears it 1 s on
//   ASSERT_TRUE(transport->waitForRefreshes(1));
//   transport->end();                           // answers arriving from now on reach nobody
//
// Shared objects: safe; the facade calls it from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "voduzazi/client/client_options.hpp"

namespace tapwick::testing {

class WatchedTransport : public std::enable_shared_from_this<WatchedTransport> {
 public:
  ~WatchedTransport();

  // Facade options whose transport is this one.
  voduzazi::VoduzaziClientOptions options();

  // From now on each refresh answer reaches the client `delay` after the server gave it.
  void holdRefreshAnswers(std::chrono::milliseconds delay);
  // From now on refreshes fail as an unreachable server does, without being sent.
  void failRefreshes(bool fail);
  // From now on refreshes go to a server that takes them and never answers (a frozen backend);
  // the real transport waits for it as for any silent server.
  void freezeRefreshes();
  // The program ended: answers from now on, held ones included, are lost.
  void end();
  // Lets every held answer go now (at the end of a test, so that no thread waits on).
  void releaseHeldAnswers();

  // Refresh requests sent (frozen ones included), and the statuses the server answered with.
  std::size_t refreshesSent() const;
  std::vector<int> refreshStatuses() const;
  // Requests of any kind whose path ends in `path`.
  std::size_t requestsTo(const std::string& path) const;
  // Waits (bounded) until `count` refresh requests have reached the server.
  bool waitForRefreshes(std::size_t count);

 private:
  // One exchange: `sendReal` reaches the server unless the test says otherwise.
  voduzazi::FetchResult exchange(const voduzazi::URLRequest& request,
                                 const std::function<voduzazi::FetchResult()>& sendReal);

  voduzazi::HTTPSession real_ = voduzazi::HTTPSession::shared();
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::chrono::milliseconds refreshDelay_{0};
  bool failRefreshes_ = false;
  // The port of a loopback socket that listens and never accepts, once frozen.
  std::optional<std::uint16_t> frozenPort_;
  int frozenListener_ = -1;
  bool ended_ = false;
  bool released_ = false;
  std::size_t refreshesSent_ = 0;
  std::vector<int> refreshStatuses_;
  std::map<std::string, std::size_t> requestsByPath_;
};

}  // namespace tapwick::testing
