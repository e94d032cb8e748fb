// Starting task threads: every task runs on its own thread, counted by the quiescence
// tracker from the moment it is spawned until its body has ended.
#pragma once

#include <functional>
#include <stop_token>

#include "voduzazi/concurrency/task_local.hpp"

namespace voduzazi::detail {

// Runs `body` on a new thread with `stop` as its stop token and `locals` as its task-local
// bindings. Throws std::system_error when no thread can be started.
void spawnTaskThread(std::function<void()> body, std::stop_token stop, LocalBindings locals);

}  // namespace voduzazi::detail
