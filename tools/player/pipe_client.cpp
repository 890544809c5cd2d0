#include "tools/player/pipe_client.h"

#include <vector>
#include "channel/pipe_messages.h"
#include "channel/pipe_server.h"

namespace {
// The agent reads every request at once; a request it does not take is a dead agent.
constexpr uint32_t kWriteTimeoutMs = 30000;
}  // namespace

PipeClient::~PipeClient() { close(); }

bool PipeClient::open(uint32_t timeoutMs) {
    close();
    m_pipe = plat::openPipe(channel::kPipeName, timeoutMs);
    return m_pipe != nullptr;
}

void PipeClient::close() {
    if (m_pipe) plat::closePipe(m_pipe);
    m_pipe = nullptr;
}

bool PipeClient::send(const std::u16string& text) { return sendBytes(channel::encodeMessage(text)); }

bool PipeClient::sendBytes(const std::string& bytes) {
    if (!m_pipe) return false;
    size_t written = 0;
    return plat::writePipeMessage(m_pipe, bytes.data(), bytes.size(), written, kWriteTimeoutMs) &&
           written == bytes.size();
}

bool PipeClient::request(const std::u16string& text, std::u16string& reply) {
    return requestBytes(channel::encodeMessage(text), reply);
}

bool PipeClient::requestBytes(const std::string& bytes, std::u16string& reply) {
    if (!sendBytes(bytes)) return false;
    std::vector<char> buffer(channel::kRequestBytes);
    size_t bytesRead = 0;
    if (!plat::readPipeMessage(m_pipe, buffer.data(), buffer.size(), bytesRead) || bytesRead == 0) return false;
    reply = channel::decodeMessage(buffer.data(), bytesRead);
    return true;
}

bool isControlWord(const std::u16string& text) { return text == u"allclose" || text == u"closewindow"; }
