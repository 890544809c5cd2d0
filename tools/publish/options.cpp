#include "tools/publish/options.h"

namespace publish {

std::string Options::value(const std::string& name, const std::string& fallback) const {
    auto found = values.find(name);
    return found == values.end() ? fallback : found->second;
}

std::vector<std::string> Options::all(const std::string& name) const {
    std::vector<std::string> found;
    for (auto [at, end] = values.equal_range(name); at != end; ++at) found.push_back(at->second);
    return found;
}

bool parseOptions(int argc, char** argv, const KnownOptions& known, Options& out, std::string& error) {
    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
            out.positional.push_back(arg);
        } else if (arg == "--help" || known.flags.count(arg)) {
            out.flags.insert(arg);
        } else if (known.withValue.count(arg)) {
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return false;
            }
            out.values.emplace(arg, argv[++i]);
        } else {
            error = "unknown option " + arg;
            return false;
        }
    }
    return true;
}

}  // namespace publish
