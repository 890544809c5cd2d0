// ovpublish: builds, signs, checks and explains a release of the served tree.
//
//   ovpublish modules SOURCE_DIR OUT_DIR [--sign SECRET_KEY]
//   ovpublish package INSTALLER OUT_DIR --version V --url URL [options]
//   ovpublish sign --key SECRET_KEY FILE...
//   ovpublish verify ROOT [--pubkey PUBKEY_FILE]
//   ovpublish explain DOCUMENT --player-version V [options]
//
// "ovpublish COMMAND --help" describes each command.
#include <sodium.h>

#include <cstdio>
#include <cstring>

#include "tools/publish/commands.h"
#include "tools/publish/files.h"

namespace {

constexpr char kUsage[] =
    "usage: ovpublish COMMAND ARGUMENTS (ovpublish COMMAND --help for one command)\n"
    "  modules SOURCE_DIR OUT_DIR [--sign SECRET_KEY]     module list and archives\n"
    "  package INSTALLER OUT_DIR --version V --url URL ...  installer's update element and offer\n"
    "  sign --key SECRET_KEY FILE...                       FILE.minisig for each file\n"
    "  verify ROOT [--pubkey PUBKEY_FILE]                  checks a served tree\n"
    "  explain DOCUMENT --player-version V ...             the agent's decision for a machine\n";

struct Command {
    const char* name;
    int (*run)(int, char**);
};
constexpr Command kCommands[] = {
    {"modules", publish::modulesCommand}, {"package", publish::packageCommand}, {"sign", publish::signCommand},
    {"verify", publish::verifyCommand},   {"explain", publish::explainCommand},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 1 : 0;
    }
    if (sodium_init() < 0) return publish::fail("cannot start libsodium");
    for (const Command& c : kCommands)
        if (std::strcmp(argv[1], c.name) == 0) return c.run(argc - 2, argv + 2);
    return publish::fail(std::string("unknown command ") + argv[1] + " (see --help)");
}
