// ovpublish sign --key SECRET_KEY [--root DIR] [FILE...]
#include <cstdio>

#include "tools/publish/commands.h"
#include "tools/publish/options.h"
#include "tools/publish/served_tree.h"
#include "tools/publish/signing.h"

namespace publish {
namespace {

constexpr char kHelp[] =
    "usage: ovpublish sign --key SECRET_KEY [--root DIR] [FILE...]\n"
    "Writes FILE.minisig for each FILE in minisign's format (prehashed, trusted comment\n"
    "\"timestamp:<seconds> file:<name>\"). The key is a minisign secret key made without a\n"
    "password (minisign -G -W).\n"
    "  --root DIR  the served tree's root: each FILE lies inside it and is signed under its\n"
    "              path there (modules/3.2/update.xml), as the agent demands for every\n"
    "              document outside product/OvUpdate/. Without FILE, every document of the\n"
    "              tree is signed again (do so before the signatures expire).\n"
    "Without --root a FILE is signed under its bare name, which the agent takes for the\n"
    "documents of product/OvUpdate/ only.\n";

}  // namespace

int signCommand(int argc, char** argv) {
    Options o;
    std::string error;
    if (!parseOptions(argc, argv, {{"--key", "--root"}, {}}, o, error)) return fail(error);
    if (o.has("--help")) return std::fputs(kHelp, stdout), 0;
    if (!o.has("--key") || (o.positional.empty() && !o.has("--root")))
        return fail("sign needs --key SECRET_KEY and a FILE or --root DIR (see --help)");
    SecretKey key;
    if (!loadSecretKey(fromUtf8Path(o.value("--key")), key, error)) return fail(error);
    fs::path root = fromUtf8Path(o.value("--root"));
    if (o.has("--root") && !fs::is_directory(root)) return fail(utf8(root) + ": not a folder");
    std::vector<fs::path> files;
    for (const std::string& file : o.positional) files.push_back(fromUtf8Path(file));
    if (files.empty()) files = treeDocuments(root);
    if (files.empty()) return fail(utf8(root) + ": holds no document to sign");
    for (const fs::path& file : files) {
        std::string name = o.has("--root") ? pathInTree(root, file) : utf8(file.filename());
        if (name.empty()) return fail(utf8(file) + ": not inside " + utf8(root));
        if (!signFile(file, name, key, error)) return fail(error);
        std::printf("signed %s as %s\n", utf8(file).c_str(), name.c_str());
    }
    return 0;
}

}  // namespace publish
