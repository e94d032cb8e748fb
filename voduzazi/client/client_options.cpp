#include "voduzazi/client/client_options.hpp"

#include "voduzazi/platform/url_session.hpp"

namespace voduzazi {

HTTPSession HTTPSession::shared() {
  return {[](const URLRequest& request) { return URLSession::shared().data(request); },
          [](const URLRequest& request, const Data& body) {
            return URLSession::shared().upload(request, body);
          }};
}

VoduzaziClientOptions::FunctionsOptions::FunctionsOptions(std::optional<FunctionRegion> region) {
  if (region) this->region = std::string(toString(*region));
}

}  // namespace voduzazi
