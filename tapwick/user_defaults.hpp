// UserDefaults: the app's small settings store, one JSON object in a file of its own, rewritten
// whole and atomically on every change.
//
//   UserDefaults defaults(UserDefaults::defaultPath());   // $XDG_CONFIG_HOME/tapwick/...
//   defaults.setStringArray("connectedFriends", {"A1B2..."});
//   auto friends = defaults.stringArray("connectedFriends").value_or({});
//
// Shared objects: safe (one lock). A file that cannot be read as a JSON object is kept beside
// the new one as "<name>.unreadable" and the store starts empty; a failed write throws and
// leaves the previous file whole.
#pragma once

#include <boost/json/object.hpp>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tapwick {

class UserDefaults {
 public:
  explicit UserDefaults(std::filesystem::path path);

  // "$XDG_CONFIG_HOME/tapwick/defaults.json" (XDG_CONFIG_HOME defaulting to "~/.config").
  static std::filesystem::path defaultPath();

  // The file's text as a settings object. Throws std::invalid_argument for text that is not
  // one JSON object.
  static boost::json::object parse(std::string_view text);

  // The strings stored under `key`, or nothing when the key is absent or holds anything but an
  // array of strings.
  std::optional<std::vector<std::string>> stringArray(std::string_view key) const;
  void setStringArray(std::string_view key, const std::vector<std::string>& values);

  std::optional<boost::json::value> value(std::string_view key) const;
  // Stores the value and writes the file. Throws std::system_error when the write fails.
  void set(std::string_view key, boost::json::value value);

  const std::filesystem::path& path() const { return path_; }

 private:
  void write(const boost::json::object& values) const;

  std::filesystem::path path_;
  mutable std::mutex mutex_;
  boost::json::object values_;
};

}  // namespace tapwick
