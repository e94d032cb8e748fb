// What a REST request asks of its answer: the "Prefer" header (return, count, resolution) and
// the "Accept" header (an array of rows, or one object).
//
//   Preferences p = parsePreferences(request);   // "Prefer: return=representation,count=exact"
//   ResponseShape shape = parseAccept(request);  // "application/vnd.pgrst.object+json"
#pragma once

#include <optional>

#include "local_backend/http_message.hpp"

namespace local_backend {

enum class ReturnPreference { minimal, representation, headersOnly };
enum class Resolution { none, mergeDuplicates, ignoreDuplicates };
enum class ResponseShape { array, singleObject };

struct Preferences {
  std::optional<ReturnPreference> returning;  // unset: the method's default
  bool count = false;                         // count=exact (planned and estimated count exactly)
  Resolution resolution = Resolution::none;
};

// Reads every "Prefer" header; elements it does not know are ignored, as the protocol allows.
Preferences parsePreferences(const Request& request);

// Throws RestError 406 "PGRST107" for an "Accept" that names no JSON form this API answers.
ResponseShape parseAccept(const Request& request);

}  // namespace local_backend
