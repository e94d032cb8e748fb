#include "voduzazi/platform/detail/curl_errors.hpp"

namespace voduzazi::detail {

URLError::Code urlErrorCode(CURLcode code) {
  using C = URLError::Code;
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return C::timedOut;
    case CURLE_COULDNT_CONNECT:
      return C::cannotConnectToHost;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return C::cannotFindHost;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_HTTP3:
      return C::networkConnectionLost;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
      return C::secureConnectionFailed;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return C::serverCertificateUntrusted;
    case CURLE_SSL_CERTPROBLEM:
      return C::clientCertificateRejected;
    case CURLE_URL_MALFORMAT:
      return C::badURL;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return C::unsupportedURL;
    case CURLE_TOO_MANY_REDIRECTS:
      return C::httpTooManyRedirects;
    case CURLE_BAD_CONTENT_ENCODING:
      return C::cannotDecodeContentData;
    case CURLE_WEIRD_SERVER_REPLY:
      return C::badServerResponse;
    case CURLE_LOGIN_DENIED:
      return C::userAuthenticationRequired;
    default:
      return C::unknown;
  }
}

}  // namespace voduzazi::detail
