#include "voduzazi/realtime/defaults.hpp"

#include <array>
#include <boost/json/parse.hpp>

#include "voduzazi/helpers/json_coders.hpp"
#include "voduzazi/realtime/detail/frame_json.hpp"

namespace voduzazi::realtime::Defaults {

namespace {

template <std::size_t N>
double stepped(const std::array<double, N>& steps, double after, int tries) {
  if (tries > static_cast<int>(N)) return after;
  return steps[static_cast<std::size_t>(tries < 1 ? 0 : tries - 1)];
}

}  // namespace

double reconnectSteppedBackOff(int tries) {
  static constexpr std::array<double, 9> kSteps{0.01, 0.05, 0.1, 0.15, 0.2, 0.25, 0.5, 1.0, 2.0};
  return stepped(kSteps, 5.0, tries);
}

double rejoinSteppedBackOff(int tries) {
  static constexpr std::array<double, 3> kSteps{1.0, 2.0, 5.0};
  return stepped(kSteps, 10.0, tries);
}

Data encode(const AnyJSON& value) { return AnyJSON::encoder()->write(value.toJSON()); }

std::optional<AnyJSON> decode(std::string_view data) {
  boost::system::error_code error;
  boost::json::value json = detail::parseFrameJSON(data, error);
  if (error || !(json.is_array() || json.is_object())) return std::nullopt;
  return AnyJSON::fromJSON(json);
}

const std::shared_ptr<SerialExecutor>& heartbeatQueue() {
  // Never destroyed: a heartbeat may still be posted while the process exits.
  static const auto* queue =
      new std::shared_ptr<SerialExecutor>(std::make_shared<SerialExecutor>());
  return *queue;
}

}  // namespace voduzazi::realtime::Defaults
