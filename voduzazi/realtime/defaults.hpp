// Defaults: the older realtime client's constants, back-off schedules, JSON coding functions and
// the shared heartbeat queue.
//
//   double wait = Defaults::reconnectSteppedBackOff(3);          // 0.1 s before attempt 3
//   Data text = Defaults::encode(AnyJSON(JSONArray{nullptr}));   // "[null]"
//   std::optional<AnyJSON> frame = Defaults::decode(received);   // nothing when not JSON
//   Defaults::heartbeatQueue()->post(sendHeartbeat);
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string_view>

#include "voduzazi/concurrency/serial_executor.hpp"
#include "voduzazi/helpers/any_json.hpp"
#include "voduzazi/helpers/data.hpp"

namespace voduzazi::realtime::Defaults {

inline constexpr double timeoutInterval = 10.0;    // seconds
inline constexpr double heartbeatInterval = 30.0;  // seconds
inline constexpr std::chrono::milliseconds heartbeatLeeway{10};
inline constexpr std::string_view vsn = "2.0.0";

// Seconds to wait before reconnect attempt `tries` (counted from 1): 0.01 s rising to 2 s by
// attempt 9, then 5 s. Attempts below 1 get the first delay.
double reconnectSteppedBackOff(int tries);
// Seconds to wait before rejoin attempt `tries`: 1, 2, 5, then 10 s.
double rejoinSteppedBackOff(int tries);

// Compact JSON text, UTF-8. Throws EncodingError for a value with no JSON form (NaN).
Data encode(const AnyJSON& value);
// The JSON array or object in `data`; nothing for anything else (a top-level scalar included),
// and nothing is reported.
std::optional<AnyJSON> decode(std::string_view data);

// The serial queue every heartbeat timer ticks on; made on first use, shared by the process.
const std::shared_ptr<SerialExecutor>& heartbeatQueue();

}  // namespace voduzazi::realtime::Defaults
