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

namespace voduzazi {

std::string URLError::localizedDescription() const {
  return std::string(voduzazi::localizedDescription(code_));
}

std::string_view localizedDescription(URLError::Code code) {
  using C = URLError::Code;
  switch (code) {
    case C::unknown:
      return "An unknown network error occurred.";
    case C::cancelled:
      return "The request was cancelled.";
    case C::backgroundSessionInUseByAnotherProcess:
    case C::backgroundSessionWasDisconnected:
      return "The background transfer could not continue.";
    case C::badURL:
      return "The address is not valid.";
    case C::timedOut:
      return "The request timed out.";
    case C::unsupportedURL:
      return "The address is not supported.";
    case C::cannotFindHost:
    case C::dnsLookupFailed:
      return "The server could not be found.";
    case C::cannotConnectToHost:
      return "Could not connect to the server.";
    case C::networkConnectionLost:
      return "The network connection was lost.";
    case C::httpTooManyRedirects:
      return "The server redirected too many times.";
    case C::resourceUnavailable:
      return "The requested resource is not available.";
    case C::notConnectedToInternet:
    case C::internationalRoamingOff:
    case C::callIsActive:
    case C::dataNotAllowed:
    case C::cannotLoadFromNetwork:
      return "The Internet connection appears to be offline.";
    case C::badServerResponse:
    case C::cannotDecodeContentData:
    case C::cannotParseResponse:
    case C::downloadDecodingFailedMidStream:
    case C::downloadDecodingFailedToComplete:
      return "The server's answer could not be read.";
    case C::userAuthenticationRequired:
      return "The server asks for authentication.";
    case C::secureConnectionFailed:
      return "A secure connection to the server could not be made.";
    case C::serverCertificateHasBadDate:
    case C::serverCertificateNotYetValid:
      return "The server's certificate is not valid at this date.";
    case C::serverCertificateUntrusted:
    case C::serverCertificateHasUnknownRoot:
      return "The server's certificate is not trusted.";
    case C::clientCertificateRejected:
      return "The server refused this client's certificate.";
  }
  return "An unknown network error occurred.";
}

}  // namespace voduzazi
