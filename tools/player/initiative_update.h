// The whole update a user asks for: fetch the offer, start the download, show its
// progress, wait for the verified package, then close the conversation.
#pragma once
#include <cstdint>
#include <ostream>
#include <string>
#include "tools/player/pipe_client.h"

struct InitiativeOptions {
    std::u16string closeWord = u"allclose";
    uint32_t timeoutMs = 120000;  // for the whole download
    uint32_t pollMs = 200;
};

// Exit status of the player: 0 with a verified package, otherwise the step that failed.
enum InitiativeStatus { kPackageReady = 0, kPipeFailed = 1, kNoOffer = 2, kDownloadFailed = 3, kTimedOut = 4 };

int runInitiativeUpdate(PipeClient& client, const InitiativeOptions& options, std::ostream& out);

// "ok*PATH*" (package already present) or "ok*PATH" (download verified): the path.
bool packagePathOf(const std::u16string& reply, std::u16string& path);
