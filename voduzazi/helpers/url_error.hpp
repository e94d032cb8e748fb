// URLError: a transport failure (no HTTP response was received), with the code that tells what
// went wrong. An HTTP error status is a response, never a URLError.
//
//   try { auto [data, response] = fetch(request); }
//   catch (const URLError& error) {
//     if (error.code() == URLError::Code::timedOut) retryLater();
//     showToUser(error.localizedDescription());   // "The request timed out."
//   }
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace voduzazi {

class URLError : public std::exception {
 public:
  // The URL-loading error codes, with their conventional numbers.
  enum class Code {
    unknown = -1,
    cancelled = -999,
    backgroundSessionInUseByAnotherProcess = -996,
    backgroundSessionWasDisconnected = -997,
    badURL = -1000,
    timedOut = -1001,
    unsupportedURL = -1002,
    cannotFindHost = -1003,
    cannotConnectToHost = -1004,
    networkConnectionLost = -1005,
    dnsLookupFailed = -1006,
    httpTooManyRedirects = -1007,
    resourceUnavailable = -1008,
    notConnectedToInternet = -1009,
    badServerResponse = -1011,
    userAuthenticationRequired = -1013,
    cannotDecodeContentData = -1016,
    cannotParseResponse = -1017,
    internationalRoamingOff = -1018,
    callIsActive = -1019,
    dataNotAllowed = -1020,
    secureConnectionFailed = -1200,
    serverCertificateHasBadDate = -1201,
    serverCertificateUntrusted = -1202,
    serverCertificateHasUnknownRoot = -1203,
    serverCertificateNotYetValid = -1204,
    clientCertificateRejected = -1205,
    cannotLoadFromNetwork = -2000,
    downloadDecodingFailedMidStream = -3006,
    downloadDecodingFailedToComplete = -3007,
  };

  explicit URLError(Code code, std::string detail = {});

  Code code() const noexcept { return code_; }
  // The transport's own explanation, when it gave one.
  const std::string& detail() const noexcept { return detail_; }
  // "URLError(timedOut)", followed by ": " and the detail when there is one.
  const char* what() const noexcept override { return message_.c_str(); }
  // A short sentence for a person, one per code, such as "Could not connect to the server.";
  // it never holds the detail (addresses, library texts), which what() keeps for logs.
  std::string localizedDescription() const;

 private:
  Code code_;
  std::string detail_;
  std::string message_;
};

// The code's name, such as "timedOut".
std::string_view toString(URLError::Code code);
// The code's sentence for a person, such as "The request timed out.".
std::string_view localizedDescription(URLError::Code code);

}  // namespace voduzazi
