// OrvixPlayer: a stand-in of the media player's side of the update channel.
//   OrvixPlayer update [--closewindow] [--timeout SECONDS] [--wait MS]
//       runs the whole update a user asks for and prints each step
//   OrvixPlayer window [--minimized] [--hidden] [--mark NAME] [--for SECONDS]
//       shows the player's marked window and prints what the agent sends to it
//   OrvixPlayer send [--size BYTES] [--wait MS] WORD...
//       sends each word and prints each reply on a line of its own; control words get
//       no reply and end the connection (a following word connects again); the words
//       after --size go as messages cut or padded with NULs to BYTES bytes
//   OrvixPlayer hold NAME [--for SECONDS]
//       holds the named mutex NAME, as another updater of the machine would, and prints
//       "holding NAME" once it does
// update and send wait up to --wait MS (10 s) for the agent's pipe and say so when it is
// not there at once. A bad command line gets a one-line error, the usage and exit code 1.
#include <chrono>
#include <iostream>
#include <string>
#include <thread>
#include <vector>
#include "channel/pipe_messages.h"
#include "platform/named_mutex.h"
#include "text/text.h"
#include "tools/player/arguments.h"
#include "tools/player/initiative_update.h"
#include "tools/player/marked_window.h"
#include "tools/player/pipe_client.h"

namespace {

constexpr long kDefaultWaitMs = 10000;

// Opens the agent's pipe, telling the user when it has to wait for it.
bool openAgentPipe(PipeClient& client, uint32_t waitMs) {
    if (client.open(0)) return true;
    std::cerr << "OrvixPlayer: waiting up to " << waitMs << " ms for the agent's pipe (--wait MS)" << std::endl;
    if (client.open(waitMs)) return true;
    std::cerr << "OrvixPlayer: agent pipe not found: is OvUpdate running?" << std::endl;
    return false;
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
        if (!connected && !openAgentPipe(client, waitMs)) return 1;
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
    if (!openAgentPipe(client, waitMs)) return kPipeFailed;
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

int hold(int argc, char** argv) {
    long seconds = 0;
    if (argc < 1 || std::string(argv[0]).rfind("--", 0) == 0) return argumentError("hold needs a mutex NAME");
    if (argc == 3 && std::string(argv[1]) == "--for" && parseCount(argv[2], seconds))
        return holdMutex(argv[0], static_cast<int>(seconds));
    if (argc != 1) return argumentError("hold takes NAME and an optional --for SECONDS");
    return holdMutex(argv[0], 0);
}

// update and send: their options, then the run.
int talk(const std::string& command, int argc, char** argv) {
    InitiativeOptions options;
    std::vector<Word> words;
    long waitMs = kDefaultWaitMs, messageBytes = -1, number = 0;
    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i];
        bool numeric = arg == "--wait" || (command == "update" && arg == "--timeout") ||
                       (command == "send" && arg == "--size");
        if (numeric && !(i + 1 < argc && parseCount(argv[++i], number)))
            return argumentError(arg + " needs a whole number");
        if (arg == "--wait") waitMs = number;
        else if (arg == "--timeout" && numeric) options.timeoutMs = 1000u * static_cast<uint32_t>(number);
        else if (arg == "--size" && numeric) messageBytes = number;
        else if (command == "update" && arg == "--closewindow") options.closeWord = u"closewindow";
        else if (command == "send") words.push_back({arg, messageBytes});
        else return argumentError("unknown option " + arg + " for update");
    }
    if (command == "update") return update(options, static_cast<uint32_t>(waitMs));
    if (words.empty()) return argumentError("send needs at least one WORD");
    return sendWords(words, static_cast<uint32_t>(waitMs));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return argumentError("a command is needed: update, window, send or hold");
    std::string command = argv[1];
    if (command == "window") return runMarkedWindow(argc - 2, argv + 2, std::cout);
    if (command == "hold") return hold(argc - 2, argv + 2);
    if (command == "update" || command == "send") return talk(command, argc - 2, argv + 2);
    return argumentError("unknown command " + command);
}
