#include "channel/pipe_server.h"

#include <vector>
#include "app/log.h"
#include "channel/pipe_messages.h"
#include "channel/request_handler.h"
#include "platform/system.h"
#include "platform/thread.h"

namespace channel {
namespace {

constexpr char16_t kAllClose[] = u"allclose";
constexpr char16_t kCloseWindow[] = u"closewindow";

// Every reply was taken before the next request was read; one the player did not take
// goes with the connection. The instance stays, for the next player.
void setConnected(const ChannelContext& context, bool on) {
    if (context.clientConnected) *context.clientConnected = on;
}

void endConnection(plat::PipeHandle pipe, const ChannelContext& context) {
    plat::disconnectPipe(pipe);
    setConnected(context, false);
}

// The pipe instance of the process. It is made once and, between players, disconnected and
// connected again rather than closed, so that the name never falls free for another
// process to take while the agent runs.
plat::PipeHandle& instance() {
    static plat::PipeHandle pipe = nullptr;
    return pipe;
}

// The instance, made on first use; null when it cannot be made.
plat::PipeHandle serverPipe() {
    plat::PipeHandle& pipe = instance();
    if (pipe) return pipe;
    bool taken = false;
    pipe = plat::createPipeServer(kPipeName, &taken);
    if (taken) LOG(u"pipe %s belongs to another process: no player is served", kPipeName);
    else if (!pipe) plat::writeStandardOutput("CreatePipe failed");
    return pipe;
}

}  // namespace

ConnectionLimits& connectionLimits() {
    static ConnectionLimits limits;
    return limits;
}

uint32_t runConnection(plat::PipeHandle pipe, const ChannelContext& context) {
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
            if (!context.initiative) result = kWindowClosed;
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
    endConnection(pipe, context);
    LOG(u"pipe thread normal exit");
    return result;
}

uint32_t serveOneConnection(const ChannelContext& context) {
    for (;;) {
        plat::PipeHandle pipe = serverPipe();
        if (!pipe) return kNotServed;
        // A client that came before the wait counts as connected.
        plat::ConnectResult connected = plat::connectPipeClient(pipe);
        if (connected == plat::ConnectResult::Refused) {
            LOG(u"pipe client of another user refused");
            continue;
        }
        if (connected == plat::ConnectResult::Failed) {
            setConnected(context, false);
            plat::closePipe(pipe);
            instance() = nullptr;
            continue;
        }
        setConnected(context, true);

        // From here the conversation has the pipe until it ends the connection.
        std::shared_ptr<plat::Thread> thread = plat::startThread([pipe, context] { return runConnection(pipe, context); });
        if (!thread) {
            plat::writeStandardOutput("CreateThread failed");
            // Nobody will serve this client: let it see the pipe close.
            endConnection(pipe, context);
            return kNotServed;
        }
        thread->wait();
        uint32_t code = kEnded;
        thread->exitCode(code);
        return code == kWindowClosed ? kWindowClosed : kEnded;
    }
}

}  // namespace channel
