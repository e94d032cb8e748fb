// The storage server's answers: error bodies, buckets, object entries and details, signed URL
// records. Each one either is refused with DecodingError or decodes; the records that encode
// reach a fixed point after one round trip through the library's date form.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_input.hpp"
#include "voduzazi/helpers/keyed_coding.hpp"
#include "voduzazi/storage/storage_client_configuration.hpp"
#include "voduzazi/storage/storage_error.hpp"
#include "voduzazi/storage/storage_models.hpp"

namespace {

using namespace voduzazi;
using namespace voduzazi::storage;

template <class T>
void roundTrips(std::string_view body) {
  const JSONDecoder& decoder = *defaultStorageDecoder();
  T decoded;
  try {
    decoded = decoder.decode<T>(body);
  } catch (const DecodingError&) {
    return;
  }
  const auto encoder = makeVoduzaziEncoder();
  const Data once = encoder->encode(decoded);
  const Data twice = encoder->encode(decoder.decode<T>(once));
  FUZZ_CHECK(once == twice);
}

template <class T>
void decodesOrRefuses(std::string_view body) {
  try {
    // As the client reads its answers: lists of records included.
    (void)decodeValue<T>(JSONDecoder::parse(body), *defaultStorageDecoder(), {});
  } catch (const DecodingError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view body = voduzazi::fuzz::FuzzInput::all(data, size);
  try {
    const StorageError error = defaultStorageDecoder()->decode<StorageError>(body);
    FUZZ_CHECK(std::string(error.what()) == error.message());
  } catch (const DecodingError&) {
  }
  roundTrips<Bucket>(body);
  roundTrips<FileObject>(body);
  decodesOrRefuses<FileObjectV2>(body);
  decodesOrRefuses<SignedURL>(body);
  decodesOrRefuses<std::vector<FileObject>>(body);
  return 0;
}
