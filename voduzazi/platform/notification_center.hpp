// NotificationCenter: the process's registry of notification observers. A post calls, on the
// posting thread, every observer registered for its name (or for every name) and for its object
// (or for any object).
//
//   auto token = NotificationCenter::defaultCenter().addObserver(
//       "didConnectFriends", nullptr, [](const Notification& note) { reload(); });
//   NotificationCenter::defaultCenter().post({"didConnectFriends", nullptr, {}});
//   token.reset();   // or removeObserver(token); either stops later deliveries
//
// Shared objects: safe. Observers run outside the center's lock, so they may post, add or remove
// observers; one removed while a post is under way is not called after its removal.
#pragma once

#include <any>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace voduzazi {

struct Notification {
  std::string name;
  const void* object = nullptr;  // compared by identity; never dereferenced
  std::map<std::string, std::any, std::less<>> userInfo;
};

class NotificationCenter {
 public:
  using Observer = std::function<void(const Notification&)>;
  class Registration;
  // Holding it keeps the observer registered; releasing the last reference removes it.
  using ObserverToken = std::shared_ptr<Registration>;

  NotificationCenter() = default;
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  // The process-wide center, made on first use and never destroyed.
  static NotificationCenter& defaultCenter();

  // `name` nothing: every name; `object` null: any object.
  [[nodiscard]] ObserverToken addObserver(std::optional<std::string> name, const void* object,
                                          Observer observer);
  void removeObserver(const ObserverToken& token);

  // Calls the matching observers in the order they were added, on this thread. An observer's
  // exception ends the post and reaches the caller.
  void post(const Notification& notification);
  // As post, but an observer that throws does not keep the notification from the others:
  // `onFailure` is called inside the handler of its exception, then the next observer is called.
  void post(const Notification& notification, const std::function<void()>& onFailure);
  // As the post above, for a notification that may turn stale while it goes out: `isCurrent` is
  // asked before each observer, and once it says no, no further observer is called.
  void post(const Notification& notification, const std::function<void()>& onFailure,
            const std::function<bool()>& isCurrent);

 private:
  struct Entry;
  friend class Registration;
  void remove(const Entry* entry);

  std::mutex mutex_;
  std::vector<std::shared_ptr<Entry>> entries_;
};

class NotificationCenter::Registration {
 public:
  Registration(std::weak_ptr<Entry> entry, NotificationCenter* center)
      : entry_(std::move(entry)), center_(center) {}
  ~Registration();
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;

  // Stops deliveries to the observer; later calls do nothing.
  void remove();

 private:
  std::weak_ptr<Entry> entry_;
  NotificationCenter* center_;
};

}  // namespace voduzazi
