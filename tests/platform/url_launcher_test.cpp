#include "voduzazi/platform/url_launcher.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/eventually.hpp"

namespace voduzazi {
namespace {

namespace fs = std::filesystem;

// A stand-in handler that writes its argument count and arguments to a file.
class RecordingHandler {
 public:
  RecordingHandler() {
    std::string pattern = (fs::temp_directory_path() / "url-launcher-XXXXXX").string();
    folder_ = ::mkdtemp(pattern.data());
    script_ = folder_ / "open-url";
    std::ofstream(script_) << "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > \""
                           << (folder_ / "args.tmp").string() << "\"\nmv \""
                           << (folder_ / "args.tmp").string() << "\" \"" << output().string()
                           << "\"\n";
    ::chmod(script_.c_str(), 0700);
  }
  ~RecordingHandler() { fs::remove_all(folder_); }

  const fs::path& script() const { return script_; }
  fs::path output() const { return folder_ / "args"; }
  std::string recorded() const {
    std::ifstream in(output());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  fs::path folder_;
  fs::path script_;
};

TEST(OpenInBrowser, HandsAWebURLOverAsOneArgument) {
  RecordingHandler handler;
  const std::string url = "https://example.org/authorize?a=1&b=$(id);c*#frag";
  ASSERT_TRUE(openInBrowser(url, handler.script().string()));
  ASSERT_TRUE(testing::eventually([&] { return fs::exists(handler.output()); }));
  EXPECT_EQ(handler.recorded(), "1\n" + url + "\n");
}

TEST(OpenInBrowser, RefusesEverythingButHTTPAndHTTPS) {
  RecordingHandler handler;
  for (const char* url : {"file:///etc/passwd", "javascript:alert(1)", "tapwick://callback",
                          "-–help", "http:/no-host", "", "ftp://example.org/"}) {
    EXPECT_FALSE(openInBrowser(url, handler.script().string())) << url;
  }
  EXPECT_FALSE(openInBrowser("https://example.org/", "/nonexistent/handler"));
  EXPECT_FALSE(fs::exists(handler.output()));
}

}  // namespace
}  // namespace voduzazi
