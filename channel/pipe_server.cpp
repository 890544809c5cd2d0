#include "channel/pipe_server.h"

#include <vector>
#include "app/log.h"
#include "app/process_state.h"
#include "channel/pipe_messages.h"
#include "channel/request_handler.h"
#include "platform/system.h"
#include "platform/thread.h"

namespace channel {
namespace {

constexpr char16_t kAllClose[] = u"allclose";
constexpr char16_t kCloseWindow[] = u"closewindow";

void endConnection(plat::PipeHandle pipe) {
    plat::flushPipe(pipe);
    plat::disconnectPipe(pipe);
    plat::closePipe(pipe);
    processState().clientConnected = false;
}

}  // namespace

ConnectionLimits& connectionLimits() {
    static ConnectionLimits limits;
    return limits;
}

uint32_t runConnection(plat::PipeHandle pipe) {
    uint32_t result = kEnded;
    std::vector<char> buffer(kRequestBytes);
    for (;;) {
        size_t bytesRead = 0;
        if (!plat::readPipeMessage(pipe, buffer.data(), buffer.size(), bytesRead) || bytesRead == 0) {
            LOG(u"ReadFile failed or none, error code:%d", plat::lastErrorCode());
            break;
        }
        std::u16string request = decodeMessage(buffer.data(), bytesRead);
        if (request == kAllClose) {
            LOG(u"request:%s,now close all", request);
            break;
        }
        if (request == kCloseWindow) {
            LOG(u"request:closewindow");
            if (!processState().initiative) result = kWindowClosed;
            break;
        }
        std::string reply = encodeMessage(handleRequest(request));
        size_t written = 0;
        if (!plat::writePipeMessage(pipe, reply.data(), reply.size(), written,
                                    connectionLimits().replyTimeoutMs) ||
            written < reply.size()) {
            LOG(u"WriteFile failed or none, error code: %d", plat::lastErrorCode());
            break;
        }
    }
    endConnection(pipe);
    LOG(u"pipe thread normal exit");
    return result;
}

uint32_t serveOneConnection() {
    for (;;) {
        plat::UniquePipe server{plat::createPipeServer(kPipeName)};
        if (!server) {
            plat::writeStandardOutput("CreatePipe failed");
            return kNotServed;
        }
        // A client that came before the wait counts as connected.
        if (plat::connectPipeClient(server.get()) == plat::ConnectResult::Failed) {
            processState().clientConnected = false;
            continue;
        }
        processState().clientConnected = true;

        // From here the conversation owns the pipe and ends it.
        plat::PipeHandle pipe = server.release();
        std::shared_ptr<plat::Thread> thread = plat::startThread([pipe] { return runConnection(pipe); });
        if (!thread) {
            plat::writeStandardOutput("CreateThread failed");
            // Nobody will serve this client: let it see the pipe close.
            endConnection(pipe);
            return kNotServed;
        }
        thread->wait();
        uint32_t code = kEnded;
        thread->exitCode(code);
        return code == kWindowClosed ? kWindowClosed : kEnded;
    }
}

}  // namespace channel
