// CapturedOutput: what the process writes to standard error (or output) while it is alive.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>

namespace voduzazi::testing {

class CapturedOutput {
 public:
  explicit CapturedOutput(std::FILE* stream = stderr)
      : stream_(stream), fd_(fileno(stream)), file_(std::tmpfile()) {
    std::fflush(stream_);
    saved_ = dup(fd_);
    dup2(fileno(file_), fd_);
  }
  ~CapturedOutput() {
    restore();
    std::fclose(file_);
  }
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;

  // Stops capturing and returns everything written meanwhile.
  std::string text() {
    restore();
    std::string text;
    std::rewind(file_);
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file_)) > 0;) {
      text.append(buffer, n);
    }
    return text;
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stream_);
    dup2(saved_, fd_);
    close(saved_);
    saved_ = -1;
  }

  std::FILE* stream_;
  int fd_;
  std::FILE* file_;
  int saved_ = -1;
};

}  // namespace voduzazi::testing
