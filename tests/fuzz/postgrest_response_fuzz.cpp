// The database client's reading of server answers: the "Content-Range" total and the mapping of
// an unsuccessful answer to PostgrestError or HTTPError. Input: the first byte picks the status
// (200 + byte), the rest is both the header value and the body.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "voduzazi/postgrest/builder.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace voduzazi;
  if (size == 0) return 0;
  const int status = 200 + data[0];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  if (auto count = countFromContentRange(text); count && *count < 0) __builtin_trap();
  auto http = std::make_shared<HTTPURLResponse>(boost::urls::url("http://127.0.0.1/rest/v1/t"),
                                                status, HeaderFieldList{{"Content-Range", text}});
  const helpers::HTTPResponse response(text, http);
  try {
    detail::throwIfUnsuccessful(response, *PostgrestClientConfiguration::jsonDecoder());
    if (status > 299) __builtin_trap();  // an unsuccessful status must never pass
  } catch (const PostgrestError& error) {
    if (error.message().data() == nullptr) __builtin_trap();
  } catch (const HTTPError& error) {
    if (error.data() != text) __builtin_trap();  // the raw body is kept whole
  }
  PostgrestResponse<> decoded(text, http);
  (void)decoded.string();
  return 0;
}
