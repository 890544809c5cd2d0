// Message-mode named pipes (\\.\pipe\NAME). On POSIX a SOCK_SEQPACKET Unix socket in the
// runtime folder (with /tmp, a folder of the user's own inside it) carries the same
// UTF-16LE messages.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

using PipeHandle = void*;

// Duplex, message type and read mode, blocking, 4096-byte buffers, one instance, open to
// this user and the system only, local clients only. Null on failure; *taken is set when
// the name belongs to somebody else (another process made the pipe first; on POSIX, the
// pipe's folder is another user's), in which case the name is left alone.
PipeHandle createPipeServer(const std::u16string& name, bool* taken = nullptr);
// Refused: a client of another user came and was sent away; the instance waits again.
enum class ConnectResult { Connected, AlreadyConnected, Refused, Failed };
ConnectResult connectPipeClient(PipeHandle pipe);  // blocks for a client
// One message into buffer; false on failure, on an empty read or when the message is
// longer than the buffer. bytesRead is set in every case.
bool readPipeMessage(PipeHandle pipe, void* buffer, size_t size, size_t& bytesRead);
// Fails when the message cannot be handed over within timeoutMs (a reader that never
// reads). On the server's end it is handed over only once the client has read it.
bool writePipeMessage(PipeHandle pipe, const void* data, size_t size, size_t& written, uint32_t timeoutMs);
// Ends the server's connection, dropping what the client has not read; the instance can
// then take the next client (connectPipeClient).
void disconnectPipe(PipeHandle pipe);
void closePipe(PipeHandle pipe);

// Client side (the stand-in player and tests): waits up to timeoutMs for the server.
PipeHandle openPipe(const std::u16string& name, uint32_t timeoutMs);

}  // namespace plat
