#include "voduzazi/clocks/unimplemented_clock.hpp"

#include "voduzazi/issue_reporting/report_issue.hpp"

namespace voduzazi {

static_assert(Clock<UnimplementedClock>);

namespace {

// Where clocks made without a caller's location report from.
SourceLocation libraryLocation(std::source_location here = std::source_location::current()) {
  return {"Clocks/UnimplementedClock", here.file_name(), 163, 16};
}

}  // namespace

UnimplementedClock::UnimplementedClock(AnyClock base, std::string name, SourceLocation location)
    : base_(std::move(base)), name_(std::move(name)), location_(std::move(location)) {}

UnimplementedClock::UnimplementedClock(std::string name, ImmediateClock::Instant now,
                                       SourceLocation location)
    : UnimplementedClock(AnyClock(std::make_shared<ImmediateClock>(now)), std::move(name),
                         std::move(location)) {}

UnimplementedClock::UnimplementedClock(std::string name)
    : UnimplementedClock(std::move(name), ImmediateClock::Instant{}, libraryLocation()) {}

UnimplementedClock UnimplementedClock::unimplemented(SourceLocation location) {
  return UnimplementedClock("Clock", ImmediateClock::Instant{}, std::move(location));
}

UnimplementedClock::Instant UnimplementedClock::now() const {
  reportUnimplemented(".now");
  return {base_.now()};
}

Duration UnimplementedClock::minimumResolution() const {
  reportUnimplemented(".minimumResolution");
  return base_.minimumResolution();
}

void UnimplementedClock::sleep(Instant deadline, std::optional<Duration> tolerance) const {
  reportUnimplemented(".sleep");
  base_.sleep(deadline.rawValue, tolerance);
}

void UnimplementedClock::reportUnimplemented(const char* member) const {
  reportIssue(LazyMessage("Unimplemented: " + name_ + member), location_);
}

}  // namespace voduzazi
