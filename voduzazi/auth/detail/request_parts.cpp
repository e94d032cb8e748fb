#include "voduzazi/auth/detail/request_parts.hpp"

namespace voduzazi::auth::detail {

std::optional<AuthMetaSecurity> captcha(const std::optional<std::string>& captchaToken) {
  if (!captchaToken) return std::nullopt;
  return AuthMetaSecurity{*captchaToken};
}

std::optional<boost::urls::url> effectiveRedirect(const std::optional<boost::urls::url>& redirectTo,
                                                  const AuthClientConfiguration& configuration) {
  return redirectTo ? redirectTo : configuration.redirectToURL;
}

std::vector<URLQueryItem> redirectQuery(const std::optional<boost::urls::url>& redirectTo,
                                        const AuthClientConfiguration& configuration) {
  const auto url = effectiveRedirect(redirectTo, configuration);
  if (!url) return {};
  return {{"redirect_to", std::string(url->buffer())}};
}

}  // namespace voduzazi::auth::detail
