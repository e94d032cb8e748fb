#!/usr/bin/env bash
# Runs the self-check program under ThreadSanitizer with the project's suppressions and passes
# only when the race in the program's own functions is still reported: the suppressions may hide
# what happens inside the libraries built without the sanitizer, never the project's own code.
# Usage: thread_sanitizer_self_check.sh PROGRAM SUPPRESSIONS   (CTest's tapwick.thread_sanitizer)
set -uo pipefail
program=$1 suppressions=$2
status=0
output=$(TSAN_OPTIONS="suppressions=$suppressions halt_on_error=0 exitcode=66" "$program" 2>&1) ||
  status=$?
if [ "$status" = 66 ] && grep -q 'WARNING: ThreadSanitizer: data race' <<<"$output" &&
  grep -q 'readInSlot' <<<"$output" && grep -q 'writeFromThread' <<<"$output"; then
  echo "thread sanitizer self-check: the race in the program's own code was reported"
  exit 0
fi
echo "thread sanitizer self-check: $suppressions hid the race between writeFromThread and" \
  "readInSlot (exit status $status); the program's output:" >&2
printf '%s\n' "$output" >&2
exit 1
