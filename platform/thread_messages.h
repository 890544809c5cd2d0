// Per-thread message queues with the Win32 thread-message semantics: a thread has no
// queue until it peeks or gets a message, and a message posted before then is lost.
#pragma once
#include <cstdint>
#include "platform/thread.h"

namespace plat {

constexpr uint32_t kWmQuit = 0x0012;
constexpr uint32_t kWmUser = 0x0400;

struct ThreadMessage {
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
};

// False when the target thread has no queue yet.
bool postThreadMessage(ThreadId thread, uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0);
// Blocks for the next message of the calling thread (creating its queue);
// returns false for WM_QUIT, as GetMessageW returns 0.
bool getThreadMessage(ThreadMessage& out);
// Creates the calling thread's queue; takes a message in [first, last] when remove is set.
// first = last = 0 means any message.
bool peekThreadMessage(ThreadMessage& out, uint32_t first, uint32_t last, bool remove);
// Drops a thread's queue when the thread ends, as Windows does; later posts to it fail.
void discardThreadQueue(ThreadId thread);

}  // namespace plat
