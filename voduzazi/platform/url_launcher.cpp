#include "voduzazi/platform/url_launcher.hpp"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/url/parse.hpp>
#include <cerrno>
#include <thread>

extern char** environ;

namespace voduzazi {
namespace {

bool isWebURL(std::string_view text) {
  auto url = boost::urls::parse_uri(text);
  if (!url) return false;
  const auto scheme = url->scheme_id();
  return (scheme == boost::urls::scheme::http || scheme == boost::urls::scheme::https) &&
         url->has_authority() && !url->host().empty();
}

}  // namespace

bool openInBrowser(std::string_view url, const std::string& program) {
  if (!isWebURL(url)) return false;
  std::string argument(url);
  std::string name = program;
  char* argv[] = {name.data(), argument.data(), nullptr};
  pid_t child = 0;
  if (::posix_spawnp(&child, name.c_str(), nullptr, nullptr, argv, environ) != 0) return false;
  // The handler may run as long as the browser does; wait for it elsewhere so it leaves no
  // zombie behind.
  std::thread([child] {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return true;
}

}  // namespace voduzazi
