// Signed paths the storage server answers with: each is refused with URLError or becomes a URL
// on the storage URL's own scheme, host and port, under its path; a signed upload URL's token is
// taken from that URL or the answer is refused.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_input.hpp"
#include "voduzazi/helpers/url_error.hpp"
#include "voduzazi/storage/storage_error.hpp"
#include "voduzazi/storage/storage_file_api.hpp"

namespace {

using namespace voduzazi;
using namespace voduzazi::storage;

const StorageFileApi& api() {
  static const StorageFileApi files(
      "bucket",
      StorageClientConfiguration{
          .url = boost::urls::url("https://abcd.example.co:8443/storage/v1"),
          .headers = {},
          .session = StorageHTTPSession(
              [](const URLRequest&) -> FetchResult { throw URLError(URLError::Code::badURL); },
              [](const URLRequest&, const Data&) -> FetchResult {
                throw URLError(URLError::Code::badURL);
              })});
  return files;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  voduzazi::fuzz::FuzzInput in(data, size);
  const bool withDownload = in.byte() & 1;
  const std::string download(in.field());
  const std::string signedPath(in.rest());
  boost::urls::url url;
  try {
    url = api().makeSignedURL(signedPath, withDownload ? std::optional(download) : std::nullopt);
  } catch (const URLError& error) {
    FUZZ_CHECK(error.code() == URLError::Code::badURL);
    return 0;
  }
  const boost::urls::url& base = api().configuration().url;
  FUZZ_CHECK(url.scheme() == base.scheme());
  FUZZ_CHECK(url.encoded_host() == base.encoded_host());
  FUZZ_CHECK(url.port() == base.port());
  FUZZ_CHECK(url.encoded_path().starts_with(base.encoded_path()));
  if (withDownload) {
    // Walked forwards: the last item is the download value, as given.
    std::optional<boost::urls::param> last;
    for (const auto& param : url.params()) last = param;
    FUZZ_CHECK(last && last->key == "download" && last->value == download);
  }
  return 0;
}
