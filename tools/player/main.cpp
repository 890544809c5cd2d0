// OrvixPlayer: a stand-in of the media player's side of the update channel.
//   OrvixPlayer update [--closewindow] [--timeout SECONDS] [--wait MS]
//       runs the whole update a user asks for and prints each step
//   OrvixPlayer window [--minimized] [--hidden] [--mark NAME] [--for SECONDS]
//       shows the player's marked window and prints what the agent sends to it
//   OrvixPlayer send [--size BYTES] WORD...
//       sends each word and prints each reply on a line of its own; control words get
//       no reply and end the connection (a following word connects again); the words
//       after --size go as messages cut or padded with NULs to BYTES bytes
//   OrvixPlayer hold NAME [--for SECONDS]
//       holds the named mutex NAME, as another updater of the machine would, and prints
//       "holding NAME" once it does
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>
#include "channel/pipe_messages.h"
#include "platform/named_mutex.h"
#include "platform/text.h"
#include "tools/player/initiative_update.h"
#include "tools/player/marked_window.h"
#include "tools/player/pipe_client.h"

namespace {

int usage() {
    std::cerr << "usage: OrvixPlayer update [--closewindow] [--timeout SECONDS] [--wait MS]\n"
                 "       OrvixPlayer window [--minimized] [--hidden] [--mark NAME] [--for SECONDS]\n"
                 "       OrvixPlayer send [--size BYTES] WORD...\n"
                 "       OrvixPlayer hold NAME [--for SECONDS]\n";
    return 64;
}

// A word to send and the size of its message (negative: as encoded).
struct Word {
    std::string text;
    long bytes;
};

int sendWords(const std::vector<Word>& words, uint32_t waitMs) {
    PipeClient client;
    bool connected = false;
    for (const Word& word : words) {
        if (!connected && !client.open(waitMs)) {
            std::cerr << "agent pipe not found" << std::endl;
            return 1;
        }
        connected = true;
        std::u16string request = text::fromAnsi(word.text), reply;
        std::string message = channel::encodeMessage(request);
        if (word.bytes >= 0) message.resize(static_cast<size_t>(word.bytes), '\0');
        if (isControlWord(request)) {
            if (!client.sendBytes(message)) return 1;
            client.close();
            connected = false;
            continue;
        }
        if (!client.requestBytes(message, reply)) {
            std::cerr << "pipe closed by the agent" << std::endl;
            return 1;
        }
        std::cout << text::toUtf8(reply) << std::endl;
    }
    return 0;
}

int update(const InitiativeOptions& options, uint32_t waitMs) {
    PipeClient client;
    if (!client.open(waitMs)) {
        std::cerr << "agent pipe not found" << std::endl;
        return kPipeFailed;
    }
    return runInitiativeUpdate(client, options, std::cout);
}

// Holds the mutex for the given time (0: until the process is ended).
int holdMutex(const std::string& name, int seconds) {
    plat::MutexHandle held = plat::createNamedMutex(text::fromUtf8(name), true, true);
    if (!held) {
        std::cerr << "cannot create the mutex " << name << std::endl;
        return 1;
    }
    std::cout << "holding " << name << std::endl;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (seconds <= 0 || std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    plat::closeMutex(held);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    std::string command = argv[1];
    if (command == "window") return runMarkedWindow(argc - 2, argv + 2, std::cout);
    if (command == "hold" && (argc == 3 || (argc == 5 && std::string(argv[3]) == "--for")))
        return holdMutex(argv[2], argc == 5 ? std::atoi(argv[4]) : 0);
    InitiativeOptions options;
    uint32_t waitMs = 10000;
    std::vector<Word> words;
    long messageBytes = -1;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (command == "update" && arg == "--closewindow") options.closeWord = u"closewindow";
        else if (command == "update" && arg == "--timeout" && hasValue)
            options.timeoutMs = 1000u * static_cast<uint32_t>(std::atoi(argv[++i]));
        else if (arg == "--wait" && hasValue) waitMs = static_cast<uint32_t>(std::atoi(argv[++i]));
        else if (command == "send" && arg == "--size" && hasValue) messageBytes = std::atol(argv[++i]);
        else if (command == "send") words.push_back({arg, messageBytes});
        else return usage();
    }
    if (command == "update") return update(options, waitMs);
    if (command == "send" && !words.empty()) return sendWords(words, waitMs);
    return usage();
}
