// Server frames fed to a joined channel of the older realtime client: routing, the server's
// postgres binding list, presence states and diffs. "$J" in a frame stands for the channel's
// join reference.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/fuzz/fuzz_input.hpp"
#include "tests/realtime/fake_socket.hpp"
#include "voduzazi/realtime/presence.hpp"
#include "voduzazi/realtime/realtime_channel.hpp"

namespace {

using namespace voduzazi::realtime;

std::string withJoinRef(std::string_view text, const std::string& joinRef) {
  std::string frame(text);
  for (auto at = frame.find("$J"); at != std::string::npos; at = frame.find("$J", at)) {
    frame.replace(at, 2, joinRef);
    at += joinRef.size();
  }
  return frame;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  voduzazi::fuzz::FuzzInput input(data, size);
  testing::SocketHarness harness;
  auto client = harness.client();
  client->setSkipHeartbeat(true);  // one timer thread fewer per input
  client->connect();
  harness.transport().open();
  auto channel = client->channel("room");
  channel->on("postgres_changes", ChannelFilter{.event = "INSERT", .table = "messages"},
              [](const RealtimeMessage& message) { (void)message.payload(); });
  channel->on("broadcast", ChannelFilter{.event = "*"}, [](const RealtimeMessage&) {});
  auto presence = channel->presence();
  std::size_t reports = 0;
  presence->onJoin([&](const std::string&, const auto&, const auto&) { ++reports; });
  presence->onLeave([&](const std::string&, const auto&, const auto&) { ++reports; });
  channel->subscribe();
  const std::string joinRef = channel->joinRef().value_or("");
  for (const auto frame : input.fields()) {
    harness.transport().receive(withJoinRef(frame, joinRef));
    // Whatever arrived, the presence state stays in the shape the server speaks.
    const auto state = presence->state();
    FUZZ_CHECK(Presence::stateFrom(Presence::toJSON(state)) == state);
  }
  (void)channel->state();
  (void)reports;
  client->disconnect();  // no rejoin is planned while the harness lets the time-outs run
  return 0;
}
