#include "voduzazi/auth/detail/callback_parameters.hpp"

#include <algorithm>

namespace voduzazi::auth::detail {

namespace {

void readFragment(std::string_view fragment, std::map<std::string, std::string>& params) {
  while (!fragment.empty()) {
    const auto amp = fragment.find('&');
    const std::string_view piece = fragment.substr(0, amp);
    fragment = amp == std::string_view::npos ? std::string_view() : fragment.substr(amp + 1);
    const auto equals = piece.find('=');
    if (equals == std::string_view::npos || equals == 0 || equals + 1 == piece.size() ||
        piece.find('=', equals + 1) != std::string_view::npos) {
      continue;
    }
    params[std::string(piece.substr(0, equals))] = std::string(piece.substr(equals + 1));
  }
}

}  // namespace

std::map<std::string, std::string> callbackParameters(boost::urls::url_view url) {
  std::map<std::string, std::string> params;
  if (url.has_fragment()) readFragment(url.encoded_fragment(), params);
  // An empty query holds no items. (Iterating the items of an empty query that a fragment
  // follows, "x?#y", reads out of bounds in the URL library, so it is never done.)
  if (url.encoded_query().empty()) return params;
  // As URL components decode query items: "+" stays a plus sign.
  for (const auto& item : url.params(boost::urls::encoding_opts{})) {
    if (item.has_value) {
      params[item.key] = item.value;
    } else {
      params.erase(item.key);
    }
  }
  return params;
}

bool isHeaderSafe(std::string_view text) {
  return std::none_of(text.begin(), text.end(), [](char c) {
    const auto octet = static_cast<unsigned char>(c);
    return octet < 0x20 || octet == 0x7F;
  });
}

}  // namespace voduzazi::auth::detail
