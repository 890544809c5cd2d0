// ovpublish sign --key SECRET_KEY FILE...
#include <cstdio>

#include "tools/publish/commands.h"
#include "tools/publish/options.h"
#include "tools/publish/signing.h"

namespace publish {
namespace {

constexpr char kHelp[] =
    "usage: ovpublish sign --key SECRET_KEY FILE...\n"
    "Writes FILE.minisig for each FILE in minisign's format (prehashed, trusted comment\n"
    "\"timestamp:<seconds> file:<name>\"). The key is a minisign secret key made without a\n"
    "password (minisign -G -W).\n";

}  // namespace

int signCommand(int argc, char** argv) {
    Options o;
    std::string error;
    if (!parseOptions(argc, argv, {{"--key"}, {}}, o, error)) return fail(error);
    if (o.has("--help")) return std::fputs(kHelp, stdout), 0;
    if (!o.has("--key") || o.positional.empty())
        return fail("sign needs --key SECRET_KEY and a FILE (see --help)");
    SecretKey key;
    if (!loadSecretKey(fromUtf8Path(o.value("--key")), key, error)) return fail(error);
    for (const std::string& file : o.positional) {
        if (!signFile(fromUtf8Path(file), key, error)) return fail(error);
        std::printf("signed %s\n", file.c_str());
    }
    return 0;
}

}  // namespace publish
