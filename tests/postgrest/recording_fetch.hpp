// A fetch function for the database client's unit tests: records every request it is handed and
// answers each with the reply set last (200 and "[]" unless changed).
#pragma once

#include <gtest/gtest.h>

#include <boost/url/url_view.hpp>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "voduzazi/helpers/fetch_handler.hpp"
#include "voduzazi/postgrest/client.hpp"

namespace voduzazi::testing {

struct Reply {
  int status = 200;
  Data body = "[]";
  HeaderFieldList headers;
};

class RecordingFetch {
 public:
  FetchHandler handler() {
    return [state = state_](const URLRequest& request) {
      std::lock_guard lock(state->mutex);
      state->requests.push_back(request);
      return FetchResult{state->reply.body,
                         std::make_shared<HTTPURLResponse>(request.url, state->reply.status,
                                                           state->reply.headers)};
    };
  }

  void reply(Reply reply) {
    std::lock_guard lock(state_->mutex);
    state_->reply = std::move(reply);
  }

  std::vector<URLRequest> requests() const {
    std::lock_guard lock(state_->mutex);
    return state_->requests;
  }

  // The last request; a test failure when there is none.
  URLRequest last() const {
    auto all = requests();
    if (all.empty()) {
      ADD_FAILURE() << "no request was sent";
      return {};
    }
    return all.back();
  }

  // A client on "https://example.com/rest/v1" sending through this fetch.
  PostgrestClient client(std::optional<std::string> schema = std::nullopt,
                         HeaderDictionary headers = {{"apikey", "key"}},
                         std::shared_ptr<VoduzaziLogger> logger = nullptr) {
    return PostgrestClient(boost::urls::url("https://example.com/rest/v1"), std::move(schema),
                           std::move(headers), std::move(logger), handler());
  }

 private:
  struct State {
    std::mutex mutex;
    Reply reply;
    std::vector<URLRequest> requests;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

// The decoded query of a sent URL, as name=value pairs in order ("name" alone without value).
inline std::vector<std::string> queryOf(const URLRequest& request) {
  std::vector<std::string> items;
  for (const auto& param : boost::urls::url_view(request.url).params()) {
    items.push_back(param.has_value ? param.key + "=" + param.value : param.key);
  }
  return items;
}

// Sends builders through a RecordingFetch and hands back what went out.
class PostgrestRequestTest : public ::testing::Test {
 protected:
  URLRequest sent(const PostgrestBuilder& builder) {
    builder.execute();
    return fetch_.last();
  }

  RecordingFetch fetch_;
  PostgrestClient client_ = fetch_.client();
};

}  // namespace voduzazi::testing
