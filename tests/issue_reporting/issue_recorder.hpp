// Test-framework hooks for tests that run inside GoogleTest and want to read the issues that
// reach the framework, instead of failing on them.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "voduzazi/issue_reporting/source_location.hpp"
#include "voduzazi/issue_reporting/test_bridge.hpp"

namespace voduzazi::testing {

// Installs `hooks` for the lifetime of this object, then puts the previous ones back.
class InstalledHooks {
 public:
  explicit InstalledHooks(bridge::TestSupportHooks hooks)
      : previous_(bridge::installTestSupport(
            std::make_shared<const bridge::TestSupportHooks>(std::move(hooks)))) {}
  ~InstalledHooks() { bridge::installTestSupport(previous_); }
  InstalledHooks(const InstalledHooks&) = delete;
  InstalledHooks& operator=(const InstalledHooks&) = delete;

 private:
  std::shared_ptr<const bridge::TestSupportHooks> previous_;
};

struct RecordedIssue {
  std::optional<std::string> message;
  SourceLocation location;
};

// Names a running test ("Recorder.test") and keeps every issue recorded in it, from any thread.
class IssueRecorder {
 public:
  IssueRecorder() : installed_(hooks(state_)) {}

  std::vector<RecordedIssue> issues() const {
    std::lock_guard lock(state_->mutex);
    return state_->issues;
  }
  std::vector<std::string> messages() const {
    std::vector<std::string> texts;
    for (const auto& issue : issues()) texts.push_back(issue.message.value_or("<none>"));
    return texts;
  }

 private:
  struct State {
    std::mutex mutex;
    std::vector<RecordedIssue> issues;
  };

  static bridge::TestSupportHooks hooks(const std::shared_ptr<State>& state) {
    bridge::TestSupportHooks hooks;
    hooks.currentTest = [] { return bridge::Test{std::string("Recorder.test"), {}}; };
    hooks.recordIssue = [state](const std::optional<std::string>& message,
                                const std::string& fileID, const std::string& filePath, int line,
                                int column) {
      std::lock_guard lock(state->mutex);
      state->issues.push_back({message,
                               {fileID, filePath, static_cast<std::uint32_t>(line),
                                static_cast<std::uint32_t>(column)}});
    };
    return hooks;
  }

  std::shared_ptr<State> state_ = std::make_shared<State>();
  InstalledHooks installed_;
};

}  // namespace voduzazi::testing
