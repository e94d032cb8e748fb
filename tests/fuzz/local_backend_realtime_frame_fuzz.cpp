// The stand-in realtime server's reading of websocket frames (both forms) and of subscription
// filters, from untrusted text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "local_backend/realtime_filter.hpp"
#include "local_backend/realtime_frame.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (auto format : {local_backend::FrameFormat::array, local_backend::FrameFormat::object}) {
    try {
      const auto frame = local_backend::parseFrame(text, format);
      (void)local_backend::writeFrame(frame, format);
    } catch (const local_backend::FrameError&) {
      // refused: the server closes the socket with 1007
    }
  }
  if (auto filter = local_backend::parseRowFilter(text)) {
    (void)filter->matches(boost::json::object{{filter->column, "value"}});
  }
  return 0;
}
