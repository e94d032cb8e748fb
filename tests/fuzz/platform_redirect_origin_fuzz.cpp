// Where a redirect's Location leads. Whatever the two URLs, the origin check is symmetric and
// gives the same answer for a URL and for the URL as libcurl writes it, which libcurl reads back
// unchanged; two URLs built from one scheme, host and port (each written in one of its forms) are
// of one origin whatever their paths, queries and fragments hold, and of another otherwise. A
// redirect never turns a method into nothing nor carries a body into a changed method.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tests/fuzz/fuzz_input.hpp"
#include "voduzazi/platform/detail/curl_redirects.hpp"

using voduzazi::fuzz::FuzzInput;
namespace detail = voduzazi::detail;

namespace {

// One way of writing a part of a URL, and what it stands for.
struct Form {
  std::string_view text;
  int meaning;
};

// Schemes: 0 http, 1 https.
constexpr std::array<Form, 4> kSchemes{{{"http", 0}, {"HTTP", 0}, {"https", 1}, {"hTTpS", 1}}};
constexpr std::array<Form, 9> kHosts{{{"h.example", 0},
                                      {"H.Example", 0},
                                      {"%68.example", 0},
                                      {"[::1]", 1},
                                      {"[0:0:0:0:0:0:0:1]", 1},
                                      {"[::FFFF:127.0.0.1]", 2},
                                      {"[::ffff:7f00:1]", 2},
                                      {"127.0.0.1", 3},
                                      {"h.example.", 4}}};
// Ports: the number, or -1 for the scheme's own.
constexpr std::array<Form, 6> kPorts{
    {{"", -1}, {":", -1}, {":80", 80}, {":443", 443}, {":8080", 8080}, {":0080", 80}}};

struct Built {
  std::string url;
  int scheme;
  int host;
  int port;
};

// A URL from one form each of scheme, host and port (picked by `choice`), then "/" and `rest`.
Built build(std::uint8_t choice, std::uint8_t portChoice, std::string_view rest) {
  const Form& scheme = kSchemes[choice % kSchemes.size()];
  const Form& host = kHosts[(choice / kSchemes.size()) % kHosts.size()];
  const Form& port = kPorts[portChoice % kPorts.size()];
  const int number = port.meaning >= 0 ? port.meaning : (scheme.meaning == 0 ? 80 : 443);
  return {std::string(scheme.text) + "://" + std::string(host.text) + std::string(port.text) + "/" +
              std::string(rest),
          scheme.meaning, host.meaning, number};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const auto status = static_cast<long>(300 + in.byte() % 10);
  const std::string method(in.field());
  const std::string_view first = in.field();
  const std::string_view second = in.field();

  FUZZ_CHECK(detail::sameOrigin(first, second) == detail::sameOrigin(second, first));
  if (const auto written = detail::redirectTarget(first)) {
    FUZZ_CHECK(detail::sameOrigin(*written, second) == detail::sameOrigin(first, second));
    FUZZ_CHECK(detail::sameOrigin(*written, *written) == detail::sameOrigin(first, first));
    FUZZ_CHECK(detail::redirectTarget(*written) == written);
  }

  const std::uint8_t choices[] = {in.byte(), in.byte(), in.byte(), in.byte()};
  const Built a = build(choices[0], choices[1], in.field());
  const Built b = build(choices[2], choices[3], in.field());
  if (detail::redirectTarget(a.url) && detail::redirectTarget(b.url)) {
    const bool same = a.scheme == b.scheme && a.host == b.host && a.port == b.port;
    FUZZ_CHECK(detail::sameOrigin(a.url, b.url) == same);
  }

  const std::string next = detail::redirectedMethod(status, method);
  FUZZ_CHECK(next == method || next == "GET");
  if (next != method) FUZZ_CHECK(!detail::keepsBody(status, method, next));
  return 0;
}
