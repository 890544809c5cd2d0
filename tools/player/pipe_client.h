// The player's side of the agent's pipe: one request message out, one reply message in.
#pragma once
#include <cstdint>
#include <string>
#include "platform/pipe.h"

class PipeClient {
public:
    ~PipeClient();
    // Waits up to timeoutMs for the agent's pipe.
    bool open(uint32_t timeoutMs);
    void close();
    // Sends text and reads its reply; false when the pipe fails or closes.
    bool request(const std::u16string& text, std::u16string& reply);
    // The same for a message given as its bytes, which may be any size.
    bool requestBytes(const std::string& bytes, std::u16string& reply);
    // Sends a control word, which the agent does not answer.
    bool send(const std::u16string& text);
    bool sendBytes(const std::string& bytes);

private:
    plat::PipeHandle m_pipe = nullptr;
};

bool isControlWord(const std::u16string& text);
