// Pieces that many auth requests share: the captcha envelope and the "redirect_to" query item.
#pragma once

#include <boost/url/url.hpp>
#include <optional>
#include <string>
#include <vector>

#include "voduzazi/auth/auth_client_configuration.hpp"
#include "voduzazi/auth/sign_in_records.hpp"
#include "voduzazi/helpers/query_items.hpp"

namespace voduzazi::auth::detail {

// The captcha envelope holding `captchaToken`; nothing without one.
std::optional<AuthMetaSecurity> captcha(const std::optional<std::string>& captchaToken);

// The call's redirect URL, else the configured one; nothing without either.
std::optional<boost::urls::url> effectiveRedirect(const std::optional<boost::urls::url>& redirectTo,
                                                  const AuthClientConfiguration& configuration);

// "redirect_to" with the effective redirect URL; no item without one.
std::vector<URLQueryItem> redirectQuery(const std::optional<boost::urls::url>& redirectTo,
                                        const AuthClientConfiguration& configuration);

}  // namespace voduzazi::auth::detail
