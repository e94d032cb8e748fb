#include "voduzazi/issue_reporting/runtime_warning_reporter.hpp"

#include "voduzazi/issue_reporting/detail/process_info.hpp"
#include "voduzazi/issue_reporting/detail/standard_streams.hpp"
#include "voduzazi/issue_reporting/test_detection.hpp"

namespace voduzazi {
namespace {

std::string locationPrefix(const SourceLocation& location) {
  return location.fileID + ":" + std::to_string(location.line) + ": ";
}

// Entries carry their location only in test runs, where many tests share one log.
std::string entryText(const SourceLocation& location, const std::string& text) {
  return isTesting() ? locationPrefix(location) + text : text;
}

bool runningForPreviews() { return detail::environmentValue("XCODE_RUNNING_FOR_PREVIEWS") == "1"; }

}  // namespace

RuntimeWarningReporter::RuntimeWarningReporter(std::shared_ptr<LogSink> sink)
    : sink_(std::move(sink)) {}

void RuntimeWarningReporter::reportIssue(const LazyMessage& message,
                                         const SourceLocation& location) {
  if (runningForPreviews()) {
    detail::writeStandardOutput("\U0001F7E3 " + locationPrefix(location) +
                                message.evaluate().value_or("") + "\n");
    return;
  }
  sink_->write({"com.apple.runtime-issues", logCategory(location.fileID), LogLevel::fault,
                entryText(location, messageText(message, "Issue reported"))});
}

void RuntimeWarningReporter::expectIssue(const LazyMessage& message,
                                         const SourceLocation& location) {
  sink_->write({"co.quillmoor.expected-issues", logCategory(location.fileID), LogLevel::info,
                entryText(location, messageText(message, "Issue expected"))});
}

std::string logCategory(const std::string& fileID) { return fileID.substr(0, fileID.find('/')); }

}  // namespace voduzazi
