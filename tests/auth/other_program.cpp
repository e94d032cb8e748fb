#include "tests/auth/other_program.hpp"

#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <random>

extern char** environ;

namespace voduzazi::auth::testing {

std::string randomSuffix() {
  static std::mt19937_64 generate{std::random_device{}()};
  return std::to_string(generate());
}

PeerProgram::PeerProgram(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  std::string self = "/proc/self/exe";
  argv.push_back(self.data());
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  if (::posix_spawn(&pid_, "/proc/self/exe", nullptr, nullptr, argv.data(), environ) != 0) {
    pid_ = -1;
  }
}

void PeerProgram::kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::optional<int> PeerProgram::exitStatus(std::chrono::milliseconds limit) {
  const int process = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
  if (process < 0) return std::nullopt;
  pollfd ended{process, POLLIN, 0};
  const int ready = ::poll(&ended, 1, static_cast<int>(limit.count()));
  ::close(process);
  int status = 0;
  if (ready != 1 || ::waitpid(pid_, &status, 0) != pid_) return std::nullopt;
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TemporaryDataHome::TemporaryDataHome(const std::string& name)
    : path_(std::filesystem::temp_directory_path() / (name + "-" + randomSuffix())) {
  if (const char* previous = std::getenv("XDG_DATA_HOME")) previous_ = previous;
  std::filesystem::create_directories(path_);
  ::setenv("XDG_DATA_HOME", path_.c_str(), 1);
}

TemporaryDataHome::~TemporaryDataHome() {
  if (previous_) {
    ::setenv("XDG_DATA_HOME", previous_->c_str(), 1);
  } else {
    ::unsetenv("XDG_DATA_HOME");
  }
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace voduzazi::auth::testing
