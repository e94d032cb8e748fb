// What tests of two programs on one session store share: the second program, started from the
// test program itself (whose main() then runs the peer's part), and a data home of their own.
//
//   PeerProgram peer({"--my-peer-flag", server.url()});
//   ASSERT_TRUE(peer.started());
//   EXPECT_EQ(peer.exitStatus(60s), 0);
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace voduzazi::auth::testing {

// A random decimal number, for names no earlier run left behind.
std::string randomSuffix();

// The second process, started from this very program with `arguments`; killed if it is still
// running when this is destroyed. Bound to its process: neither copied nor moved.
class PeerProgram {
 public:
  explicit PeerProgram(const std::vector<std::string>& arguments);
  ~PeerProgram() { kill(); }
  PeerProgram(const PeerProgram&) = delete;
  PeerProgram& operator=(const PeerProgram&) = delete;

  // Ends it at once, as a crash would.
  void kill();
  bool started() const { return pid_ > 0; }
  // The exit status once it has ended within `limit`; nothing otherwise.
  std::optional<int> exitStatus(std::chrono::milliseconds limit);

 private:
  pid_t pid_ = -1;
};

// A fresh XDG_DATA_HOME (so a fresh default secret store) for both programs while this lives;
// then the folder is removed and the previous value comes back.
class TemporaryDataHome {
 public:
  explicit TemporaryDataHome(const std::string& name);
  ~TemporaryDataHome();
  TemporaryDataHome(const TemporaryDataHome&) = delete;
  TemporaryDataHome& operator=(const TemporaryDataHome&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  std::optional<std::string> previous_;
};

}  // namespace voduzazi::auth::testing
