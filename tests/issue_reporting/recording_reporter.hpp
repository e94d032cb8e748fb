// Test doubles for issue reporting: a reporter and a log sink that remember what reached them.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "voduzazi/issue_reporting/error_description.hpp"
#include "voduzazi/issue_reporting/issue_reporter.hpp"
#include "voduzazi/issue_reporting/log_sink.hpp"

namespace voduzazi::testing {

struct Report {
  enum class Kind { issue, error, expectedIssue, expectedError };
  Kind kind = Kind::issue;
  std::optional<std::string> message;
  std::string error;  // the error's description, for the error forms
  SourceLocation location;
};

class RecordingReporter final : public IssueReporter {
 public:
  void reportIssue(const LazyMessage& message, const SourceLocation& location) override {
    record({Report::Kind::issue, message.evaluate(), {}, location});
  }
  void reportIssue(const std::exception_ptr& error, const LazyMessage& message,
                   const SourceLocation& location) override {
    record({Report::Kind::error, message.evaluate(), describeError(error), location});
  }
  void expectIssue(const LazyMessage& message, const SourceLocation& location) override {
    record({Report::Kind::expectedIssue, message.evaluate(), {}, location});
  }
  void expectIssue(const std::exception_ptr& error, const LazyMessage& message,
                   const SourceLocation& location) override {
    record({Report::Kind::expectedError, message.evaluate(), describeError(error), location});
  }

  std::vector<Report> reports() const {
    std::lock_guard lock(mutex_);
    return reports_;
  }
  // The messages of all reports, in order (absent ones as "<none>").
  std::vector<std::string> messages() const {
    std::vector<std::string> texts;
    for (const auto& report : reports()) texts.push_back(report.message.value_or("<none>"));
    return texts;
  }

 private:
  void record(Report report) {
    std::lock_guard lock(mutex_);
    reports_.push_back(std::move(report));
  }

  mutable std::mutex mutex_;
  std::vector<Report> reports_;
};

class RecordingLogSink final : public LogSink {
 public:
  void write(const LogEntry& entry) override {
    std::lock_guard lock(mutex_);
    entries_.push_back(entry);
  }
  std::vector<LogEntry> entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<LogEntry> entries_;
};

}  // namespace voduzazi::testing
