#include "tests/client/facade_fakes.hpp"

namespace voduzazi::testing {

HTTPSession RecordingTransport::session() {
  return {[this](const URLRequest& request) { return answer(request); },
          [this](const URLRequest& request, const Data& body) {
            URLRequest sent = request;
            sent.httpBody = body;
            return answer(sent);
          }};
}

FetchResult RecordingTransport::answer(const URLRequest& request) {
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
  }
  return {"[]", std::make_shared<HTTPURLResponse>(
                    request.url, 200, HeaderFieldList{{"Content-Type", "application/json"}})};
}

std::vector<URLRequest> RecordingTransport::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::string RecordingTransport::lastAuthorization() const {
  const auto all = requests();
  if (all.empty()) return "<no request>";
  return all.back().value("Authorization").value_or("<none>");
}

VoduzaziClientOptions optionsOver(const std::shared_ptr<RecordingTransport>& transport,
                                  std::shared_ptr<auth::AuthLocalStorage> storage) {
  VoduzaziClientOptions options;
  options.global.session = transport->session();
  options.auth.storage = std::move(storage);
  return options;
}

}  // namespace voduzazi::testing
