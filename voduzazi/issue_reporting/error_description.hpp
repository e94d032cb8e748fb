// Error descriptions: the text an issue shows for a caught error, and a way to keep an error
// object whose dynamic type is known only through a base-class reference.
//
//   try { client.send(request); }
//   catch (...) { log(describeError(std::current_exception())); }   // e.g. "CancellationError()"
//   std::exception_ptr kept = captureError(error);   // error: const std::exception&
#pragma once

#include <exception>
#include <string>

namespace voduzazi {

// what() of a std::exception, the text of a thrown string, or the exception's type name for
// anything else; "nil" for a null pointer.
std::string describeError(const std::exception_ptr& error);

// The error as an exception_ptr. When `error` is the exception being handled the very object is
// kept; otherwise a copy that keeps its description (its dynamic type cannot be copied).
std::exception_ptr captureError(const std::exception& error);

}  // namespace voduzazi
