// The stand-in storage's multipart reader on any body: the parts it reads (or its refusal) do not
// depend on how the body is cut into pieces, and a form built from plain contents reads back as
// exactly those contents. The content-type and disposition readers take any text.
//
// Input: a mode byte (bit 7: build a form from the fields; bits 0-5: the piece size minus one),
// the boundary, NUL, then the body (or NUL-separated part contents).
#include <string>
#include <vector>

#include "local_backend/storage_multipart.hpp"
#include "tests/fuzz/fuzz_input.hpp"

using namespace local_backend;
using voduzazi::fuzz::FuzzInput;

namespace {

// Everything the sink saw, as one comparable text; or the refusal.
class Recorder : public MultipartSink {
 public:
  void beginPart(const MultipartHeaders& headers) override {
    log += "<part";
    for (const auto& [name, value] : headers.fields) log += "|" + name + "=" + value;
    log += ">";
    contents.emplace_back();
  }
  void partData(std::string_view bytes) override {
    FUZZ_CHECK(!contents.empty());
    contents.back().append(bytes);
    log.append(bytes);
  }
  void endPart() override { log += "</part>"; }

  std::string log;
  std::vector<std::string> contents;
};

Recorder readInPieces(const std::string& boundary, std::string_view body, std::size_t piece) {
  Recorder recorder;
  MultipartReader reader(boundary, recorder);
  try {
    for (std::size_t at = 0; at < body.size(); at += piece) reader.feed(body.substr(at, piece));
    reader.finish();
    recorder.log += "<done>";
  } catch (const MultipartError& error) {
    recorder.log += std::string("<refused:") + error.what() + ">";
  }
  return recorder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const std::uint8_t mode = in.byte();
  std::string boundary(in.field());
  if (boundary.empty()) boundary = "b";
  const std::size_t piece = (mode & 0x3f) + 1;

  (void)multipartBoundary(FuzzInput::all(data, size));
  (void)formDisposition(
      MultipartHeaders{{{"Content-Disposition", std::string(FuzzInput::all(data, size))}}});

  std::string body;
  std::vector<std::string> sent;
  const bool built = (mode & 0x80) != 0;
  if (built) {
    for (const auto field : in.fields()) sent.emplace_back(field);
    if (sent.size() > MultipartReader::kMaxParts) sent.resize(MultipartReader::kMaxParts);
    for (std::size_t i = 0; i < sent.size(); ++i) {
      body += (i == 0 ? "--" : "\r\n--") + boundary +
              "\r\nContent-Disposition: form-data; name=\"p" + std::to_string(i) + "\"\r\n\r\n" +
              sent[i];
    }
    body += (sent.empty() ? "--" : "\r\n--") + boundary + "--\r\n";
  } else {
    body = std::string(in.rest());
  }

  const Recorder whole = readInPieces(boundary, body, body.size() + 1);
  const Recorder pieces = readInPieces(boundary, body, piece);
  FUZZ_CHECK(whole.log == pieces.log);

  // A form whose contents never hold the delimiter reads back exactly.
  const std::string delimiter = "\r\n--" + boundary;
  bool plain = boundary.find_first_of("\r\n") == std::string::npos;
  for (const auto& content : sent) {
    if ((content + "\r\n").find(delimiter) != std::string::npos) plain = false;
  }
  if (built && plain) FUZZ_CHECK(whole.contents == sent);
  return 0;
}
