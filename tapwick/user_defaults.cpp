#include "tapwick/user_defaults.hpp"

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "voduzazi/platform/durable_write.hpp"

namespace tapwick {

namespace {

std::optional<std::string> readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

UserDefaults::UserDefaults(std::filesystem::path path) : path_(std::move(path)) {
  const auto text = readFile(path_);
  if (!text) return;
  try {
    values_ = parse(*text);
  } catch (const std::exception& e) {
    // Keep what cannot be read for a person to look at, instead of overwriting it later.
    std::filesystem::path aside = path_;
    aside += ".unreadable";
    std::error_code ignored;
    std::filesystem::rename(path_, aside, ignored);
    std::cout << "User defaults unreadable: " << e.what() << std::endl;
  }
}

std::filesystem::path UserDefaults::defaultPath() {
  std::filesystem::path base;
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/') {
    base = config;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::filesystem::path(home) / ".config";
  } else {
    base = std::filesystem::temp_directory_path();
  }
  return base / "tapwick" / "defaults.json";
}

boost::json::object UserDefaults::parse(std::string_view text) {
  boost::system::error_code error;
  boost::json::value json = boost::json::parse(text, error);
  if (error) throw std::invalid_argument("not JSON: " + error.message());
  if (!json.is_object()) throw std::invalid_argument("not a JSON object");
  return std::move(json.as_object());
}

std::optional<std::vector<std::string>> UserDefaults::stringArray(std::string_view key) const {
  const auto json = value(key);
  if (!json || !json->is_array()) return std::nullopt;
  std::vector<std::string> strings;
  for (const auto& element : json->as_array()) {
    if (!element.is_string()) return std::nullopt;
    strings.emplace_back(element.as_string());
  }
  return strings;
}

void UserDefaults::setStringArray(std::string_view key, const std::vector<std::string>& values) {
  boost::json::array array;
  for (const auto& text : values) array.emplace_back(text);
  set(key, std::move(array));
}

std::optional<boost::json::value> UserDefaults::value(std::string_view key) const {
  std::lock_guard lock(mutex_);
  const auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  return it->value();
}

void UserDefaults::set(std::string_view key, boost::json::value value) {
  std::lock_guard lock(mutex_);
  boost::json::object next = values_;
  next[key] = std::move(value);
  write(next);
  values_ = std::move(next);
}

void UserDefaults::write(const boost::json::object& values) const {
  std::filesystem::create_directories(path_.parent_path());
  voduzazi::writeFileDurably(path_, boost::json::serialize(values));
}

}  // namespace tapwick
