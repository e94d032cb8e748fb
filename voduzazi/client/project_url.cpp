#include "voduzazi/client/project_url.hpp"

#include <boost/url/parse.hpp>

namespace voduzazi {
namespace {

[[noreturn]] void refuse(std::string_view url, std::string_view why) {
  throw InvalidProjectURLError("Invalid project URL \"" + std::string(url) +
                               "\": " + std::string(why));
}

std::string_view firstLabel(std::string_view host) {
  while (!host.empty()) {
    const auto dot = host.find('.');
    const std::string_view label = host.substr(0, dot);
    if (!label.empty()) return label;
    if (dot == std::string_view::npos) break;
    host.remove_prefix(dot + 1);
  }
  return {};
}

}  // namespace

void checkProjectURL(const boost::urls::url& url) {
  const auto scheme = url.scheme_id();
  if (scheme != boost::urls::scheme::http && scheme != boost::urls::scheme::https) {
    refuse(url.buffer(), "the scheme must be http or https");
  }
  if (firstLabel(url.encoded_host()).empty()) refuse(url.buffer(), "it has no host");
}

boost::urls::url parseProjectURL(std::string_view text) {
  auto parsed = boost::urls::parse_absolute_uri(text);
  if (!parsed) refuse(text, "it is not an absolute URL");
  boost::urls::url url(*parsed);
  checkProjectURL(url);
  return url;
}

boost::urls::url serviceURL(const boost::urls::url& project, std::string_view path) {
  std::string joined(project.encoded_path());
  while (!joined.empty() && joined.back() == '/') joined.pop_back();
  joined += path;
  boost::urls::url url = project;
  url.set_encoded_path(joined);
  return url;
}

std::string defaultStorageKey(const boost::urls::url& project) {
  return "sb-" + std::string(firstLabel(project.encoded_host())) + "-auth-token";
}

}  // namespace voduzazi
