// Caller text in the parts of an upload form (field names, file names, types): whatever the
// text, a part's header block is exactly its own lines and one blank line, so no text adds a
// header or ends the block early, and the MIME table read from text holds only "major/minor".
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_input.hpp"
#include "voduzazi/platform/mime_types.hpp"
#include "voduzazi/storage/multipart_form_data.hpp"

namespace {

std::size_t count(std::string_view text, std::string_view piece) {
  std::size_t found = 0;
  for (std::size_t at = text.find(piece); at != std::string_view::npos;
       at = text.find(piece, at + 1)) {
    ++found;
  }
  return found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace voduzazi;
  voduzazi::fuzz::FuzzInput in(data, size);
  const std::string name(in.field());
  const std::string fileName(in.field());
  const std::string rest(in.rest());
  const std::string block = storage::encodeHeaders(storage::partHeaders(name, fileName));
  FUZZ_CHECK(block.ends_with("\r\n\r\n"));
  FUZZ_CHECK(count(block, "\r\n") == 2);
  FUZZ_CHECK(count(block, "\n") == 2 && count(block, "\r") == 2);
  FUZZ_CHECK(block.starts_with("Content-Disposition: form-data; name=\""));

  for (const auto& [extension, type] : parseMIMETypes(rest)) {
    FUZZ_CHECK(!extension.empty());
    FUZZ_CHECK(count(type, "/") == 1 && !type.starts_with('/') && !type.ends_with('/'));
  }
  return 0;
}
