// What the facade's tests share: a transport that records every request and answers each with
// an empty JSON array, and facade options over it with an in-memory session store.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "voduzazi/client/voduzazi_client.hpp"

namespace voduzazi::testing {

class RecordingTransport {
 public:
  // A session whose calls land here; the transport must outlive it.
  HTTPSession session();
  std::vector<URLRequest> requests() const;
  // The "Authorization" value of the last request.
  std::string lastAuthorization() const;

 private:
  FetchResult answer(const URLRequest& request);

  mutable std::mutex mutex_;
  std::vector<URLRequest> requests_;
};

VoduzaziClientOptions optionsOver(const std::shared_ptr<RecordingTransport>& transport,
                                  std::shared_ptr<auth::AuthLocalStorage> storage);

}  // namespace voduzazi::testing
