// The app's reading of database answers: message rows, friend ids, profile names, invites, and
// the display form of a row's time; and the stored last-seen marker.
#include <boost/json/parse.hpp>
#include <cstdint>

#include "tapwick/display_date.hpp"
#include "tapwick/last_seen.hpp"
#include "tapwick/server_rows.hpp"
#include "tests/fuzz/fuzz_input.hpp"

using voduzazi::fuzz::FuzzInput;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view body = FuzzInput::all(data, size);
  try {
    const auto rows = tapwick::readMessageRows(body);
    // A row shown once is never new again, whatever order the rows come in.
    tapwick::LastSeen seen;
    for (const auto& row : rows) {
      FUZZ_CHECK(tapwick::serverInstant(row.createdAt) == row.createdAtInstant);
      if (seen.isNew(row)) seen.record(row);
      // Only an older timed row (already passed by the marker) can be new again: never.
      FUZZ_CHECK(
          !seen.isNew(row) ||
          (row.createdAtInstant && *row.createdAtInstant < *tapwick::serverInstant(seen.since())));
      tapwick::formatDisplayDate(row.createdAt);
    }
    FUZZ_CHECK(tapwick::LastSeen::fromJSON(seen.toJSON()) == seen);
  } catch (const tapwick::RowsError&) {
  }
  try {
    tapwick::readFriendIds(body);
  } catch (const tapwick::RowsError&) {
  }
  // The same bytes as a stored marker: whatever it reads as must write back to itself.
  boost::system::error_code error;
  const boost::json::value stored = boost::json::parse(body, error);
  if (!error) {
    const tapwick::LastSeen seen = tapwick::LastSeen::fromJSON(stored);
    FUZZ_CHECK(tapwick::LastSeen::fromJSON(seen.toJSON()) == seen);
  }
  tapwick::readProfileName(body);
  tapwick::readInviter(body);
  tapwick::formatDisplayDate(body);
  return 0;
}
