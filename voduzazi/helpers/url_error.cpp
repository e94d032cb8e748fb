#include "voduzazi/helpers/url_error.hpp"

#include <utility>

namespace voduzazi {

URLError::URLError(Code code, std::string detail) : code_(code), detail_(std::move(detail)) {
  message_ = "URLError(" + std::string(toString(code_)) + ")";
  if (!detail_.empty()) message_ += ": " + detail_;
}

std::string_view toString(URLError::Code code) {
  using C = URLError::Code;
  switch (code) {
    case C::unknown:
      return "unknown";
    case C::cancelled:
      return "cancelled";
    case C::backgroundSessionInUseByAnotherProcess:
      return "backgroundSessionInUseByAnotherProcess";
    case C::backgroundSessionWasDisconnected:
      return "backgroundSessionWasDisconnected";
    case C::badURL:
      return "badURL";
    case C::timedOut:
      return "timedOut";
    case C::unsupportedURL:
      return "unsupportedURL";
    case C::cannotFindHost:
      return "cannotFindHost";
    case C::cannotConnectToHost:
      return "cannotConnectToHost";
    case C::networkConnectionLost:
      return "networkConnectionLost";
    case C::dnsLookupFailed:
      return "dnsLookupFailed";
    case C::httpTooManyRedirects:
      return "httpTooManyRedirects";
    case C::resourceUnavailable:
      return "resourceUnavailable";
    case C::notConnectedToInternet:
      return "notConnectedToInternet";
    case C::badServerResponse:
      return "badServerResponse";
    case C::userAuthenticationRequired:
      return "userAuthenticationRequired";
    case C::cannotDecodeContentData:
      return "cannotDecodeContentData";
    case C::cannotParseResponse:
      return "cannotParseResponse";
    case C::internationalRoamingOff:
      return "internationalRoamingOff";
    case C::callIsActive:
      return "callIsActive";
    case C::dataNotAllowed:
      return "dataNotAllowed";
    case C::secureConnectionFailed:
      return "secureConnectionFailed";
    case C::serverCertificateHasBadDate:
      return "serverCertificateHasBadDate";
    case C::serverCertificateUntrusted:
      return "serverCertificateUntrusted";
    case C::serverCertificateHasUnknownRoot:
      return "serverCertificateHasUnknownRoot";
    case C::serverCertificateNotYetValid:
      return "serverCertificateNotYetValid";
    case C::clientCertificateRejected:
      return "clientCertificateRejected";
    case C::cannotLoadFromNetwork:
      return "cannotLoadFromNetwork";
    case C::downloadDecodingFailedMidStream:
      return "downloadDecodingFailedMidStream";
    case C::downloadDecodingFailedToComplete:
      return "downloadDecodingFailedToComplete";
  }
  return "unknown";
}

}  // namespace voduzazi
