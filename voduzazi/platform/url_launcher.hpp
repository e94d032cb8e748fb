// Opening a URL in the user's browser: hands an http or https URL to the desktop's default
// handler (xdg-open), as one argument, without a shell.
//
//   if (!openInBrowser("https://example.org/authorize?x=1")) showLinkToCopy();
//
// Safe from any thread. The handler runs on its own; it is reaped in the background.
#pragma once

#include <string>
#include <string_view>

namespace voduzazi {

// False, without starting anything, for a URL that is not http or https (or not a URL), and
// when the program cannot be started. `program` is looked up in PATH.
bool openInBrowser(std::string_view url, const std::string& program = "xdg-open");

}  // namespace voduzazi
