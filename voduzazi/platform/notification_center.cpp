#include "voduzazi/platform/notification_center.hpp"

#include <algorithm>
#include <atomic>

namespace voduzazi {

struct NotificationCenter::Entry {
  std::optional<std::string> name;
  const void* object;
  Observer observer;
  std::atomic<bool> active{true};
};

NotificationCenter& NotificationCenter::defaultCenter() {
  static NotificationCenter* center = new NotificationCenter();  // outlives every static user
  return *center;
}

NotificationCenter::ObserverToken NotificationCenter::addObserver(std::optional<std::string> name,
                                                                  const void* object,
                                                                  Observer observer) {
  auto entry = std::make_shared<Entry>();
  entry->name = std::move(name);
  entry->object = object;
  entry->observer = std::move(observer);
  {
    std::lock_guard lock(mutex_);
    entries_.push_back(entry);
  }
  return std::make_shared<Registration>(entry, this);
}

void NotificationCenter::removeObserver(const ObserverToken& token) {
  if (token) token->remove();
}

void NotificationCenter::remove(const Entry* entry) {
  std::lock_guard lock(mutex_);
  std::erase_if(entries_, [entry](const auto& candidate) { return candidate.get() == entry; });
}

void NotificationCenter::post(const Notification& notification) { post(notification, {}); }

void NotificationCenter::post(const Notification& notification,
                              const std::function<void()>& onFailure) {
  post(notification, onFailure, {});
}

void NotificationCenter::post(const Notification& notification,
                              const std::function<void()>& onFailure,
                              const std::function<bool()>& isCurrent) {
  std::vector<std::shared_ptr<Entry>> matching;
  {
    std::lock_guard lock(mutex_);
    for (const auto& entry : entries_) {
      if (entry->name && *entry->name != notification.name) continue;
      if (entry->object && entry->object != notification.object) continue;
      matching.push_back(entry);
    }
  }
  for (const auto& entry : matching) {
    if (isCurrent && !isCurrent()) return;
    if (!entry->active.load()) continue;
    if (!onFailure) {
      entry->observer(notification);
      continue;
    }
    try {
      entry->observer(notification);
    } catch (...) {
      onFailure();
    }
  }
}

NotificationCenter::Registration::~Registration() { remove(); }

void NotificationCenter::Registration::remove() {
  if (auto entry = entry_.lock()) {
    entry->active.store(false);
    center_->remove(entry.get());
  }
  entry_.reset();
}

}  // namespace voduzazi
