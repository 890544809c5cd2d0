// Message-mode named pipes (\\.\pipe\NAME). On POSIX a SOCK_SEQPACKET Unix socket in the
// runtime folder carries the same UTF-16LE messages.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/unique_handle.h"

namespace plat {

using PipeHandle = void*;

// Duplex, message type and read mode, blocking, unlimited instances, 4096-byte buffers.
PipeHandle createPipeServer(const std::u16string& name);  // null on failure
enum class ConnectResult { Connected, AlreadyConnected, Failed };
ConnectResult connectPipeClient(PipeHandle pipe);  // blocks for a client
// One message into buffer; false on failure, on an empty read or when the message is
// longer than the buffer. bytesRead is set in every case.
bool readPipeMessage(PipeHandle pipe, void* buffer, size_t size, size_t& bytesRead);
// Fails when the message cannot be handed over within timeoutMs (a reader that never reads).
bool writePipeMessage(PipeHandle pipe, const void* data, size_t size, size_t& written, uint32_t timeoutMs);
void flushPipe(PipeHandle pipe);
void disconnectPipe(PipeHandle pipe);
void closePipe(PipeHandle pipe);
using UniquePipe = UniqueHandle<closePipe>;

// Client side (the stand-in player and tests): waits up to timeoutMs for the server.
PipeHandle openPipe(const std::u16string& name, uint32_t timeoutMs);

}  // namespace plat
