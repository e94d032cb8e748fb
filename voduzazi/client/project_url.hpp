// What the facade derives from a project URL: the checked URL itself, the URL of each service
// under it, and the default key of the stored session.
//
//   boost::urls::url project = parseProjectURL("https://abcd.example.co");
//   serviceURL(project, "/rest/v1");   // https://abcd.example.co/rest/v1
//   defaultStorageKey(project);        // "sb-abcd-auth-token"
#pragma once

#include <boost/url/url.hpp>
#include <stdexcept>
#include <string>
#include <string_view>

namespace voduzazi {

// A project URL the facade cannot use: not http or https, or without a host that has at least
// one character other than ".". The message names the URL (project URLs hold no secrets).
class InvalidProjectURLError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// Parses and checks `text`; throws InvalidProjectURLError.
boost::urls::url parseProjectURL(std::string_view text);
// Throws InvalidProjectURLError for a URL the facade cannot use.
void checkProjectURL(const boost::urls::url& url);

// The project URL with `path` ("/rest/v1") appended to its path, one "/" between them.
boost::urls::url serviceURL(const boost::urls::url& project, std::string_view path);

// "sb-" + the first non-empty label of the host + "-auth-token".
std::string defaultStorageKey(const boost::urls::url& project);

}  // namespace voduzazi
