// libcrypto is not built with ThreadSanitizer: its reference counts are atomics the sanitizer
// cannot see, so freeing a shared method table (and its lock) on another thread than the one that
// last used it looks like a race. Calls made from inside libcrypto are left unchecked.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libcrypto.so\n"
         "called_from_lib:libssl.so\n";
}
