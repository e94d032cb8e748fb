// A fetch function for storage tests: answers from a queue of replies (the last one repeats)
// and keeps every request it was sent, with its body read out.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "voduzazi/helpers/fetch_handler.hpp"
#include "voduzazi/storage/storage_client_configuration.hpp"

namespace voduzazi::storage::testing {

struct Reply {
  int status = 200;
  Data body = "{}";
};

struct SentRequest {
  URLRequest request;
  Data body;  // the body or the streamed body, read whole

  std::optional<std::string> header(std::string_view name) const { return request.value(name); }
  std::string url() const { return std::string(request.url.buffer()); }
};

class FakeFetch {
 public:
  explicit FakeFetch(std::vector<Reply> replies = {Reply{}});

  FetchHandler handler() const;
  SentRequest last() const;
  std::size_t count() const;

  // A configuration for "https://example.com/storage/v1" sending through this fetch.
  StorageClientConfiguration configuration(HeaderDictionary headers = {}) const;

 private:
  struct State {
    std::mutex mutex;
    std::vector<Reply> replies;
    std::vector<SentRequest> sent;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace voduzazi::storage::testing
