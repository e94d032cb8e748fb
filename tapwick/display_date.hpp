// formatDisplayDate: a server timestamp as the notification shows it, "21 Oct 2025, 14:34" in the
// local time zone; text that is no timestamp with a fraction comes back exactly as given.
//
//   formatDisplayDate("2025-10-21T12:34:56.123456Z");   // "21 Oct 2025, 14:34" in UTC+2
//   formatDisplayDate("2025-10-21T12:34:56Z");          // unchanged: no fraction
#pragma once

#include <string>
#include <string_view>

namespace tapwick {

// Safe from any thread; reads the process's time zone and LC_TIME.
std::string formatDisplayDate(std::string_view timestamp);

}  // namespace tapwick
