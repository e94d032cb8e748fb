// The hint a large buffer written once from front to back gets: faulting fresh memory in by
// 4 KiB pages costs about as much as receiving the bytes, so the whole 2 MiB pages inside it are
// asked for huge pages where the system offers them on request.
#pragma once

#include <cstddef>

namespace voduzazi::detail {

// Asks for huge pages over the whole 2 MiB pages of [buffer, buffer + size), when that holds at
// least four; a hint, nothing happens when the system refuses it.
void preferHugePages(char* buffer, std::size_t size);

}  // namespace voduzazi::detail
