// The agent's end of the player's pipe. The process's one pipe instance serves one client
// at a time: its connection thread reads requests and writes replies until a control word
// or an I/O failure ends the conversation, and the wait thread learns how it ended.
#pragma once
#include <atomic>
#include <cstdint>
#include "platform/pipe.h"

namespace channel {

inline constexpr char16_t kPipeName[] = u"\\\\.\\pipe\\initiativeupdatepipe";

// How a connection ended; also the exit code of its connection thread.
enum ConnectionResult : uint32_t {
    kNotServed = 0,     // the pipe instance or the connection thread could not be created,
                        // or the pipe's name belongs to another process
    kEnded = 1,         // "allclose", an I/O failure, or "closewindow" in initiative mode
    kWindowClosed = 2,  // "closewindow" while the agent runs in background mode
};

// A reply the player does not take within this time ends the connection, as if the player
// had left. Process-wide; tests shrink it.
struct ConnectionLimits {
    uint32_t replyTimeoutMs = 30000;
};
ConnectionLimits& connectionLimits();

// What the agent lends the channel: its mode, and the flag the channel keeps set while a
// player is connected (the agent's main thread waits for that player before it ends).
struct ChannelContext {
    bool initiative = false;
    std::atomic<bool>* clientConnected = nullptr;
};

// Blocks until one client has been served and returns how its connection ended.
// Called only by the wait thread.
uint32_t serveOneConnection(const ChannelContext& context);

// The conversation on one connected pipe; disconnects the client (the instance stays,
// for the next one) and clears the client-connected flag before it returns.
uint32_t runConnection(plat::PipeHandle pipe, const ChannelContext& context);

}  // namespace channel
