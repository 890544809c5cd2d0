// The command line of one ovpublish command: positional arguments, options with a value
// (some may repeat) and flags.
#pragma once
#include <map>
#include <set>
#include <string>
#include <vector>

namespace publish {

struct Options {
    std::vector<std::string> positional;
    std::multimap<std::string, std::string> values;  // "--version" -> "3.2.0.1"
    std::set<std::string> flags;                     // "--help"

    bool has(const std::string& name) const { return values.count(name) || flags.count(name); }
    std::string value(const std::string& name, const std::string& fallback = "") const;
    std::vector<std::string> all(const std::string& name) const;
};

// What a command accepts: the options that take a value and the flags ("--help" is
// always a flag). False with a one-line error in error for anything else.
struct KnownOptions {
    std::set<std::string> withValue;
    std::set<std::string> flags;
};
bool parseOptions(int argc, char** argv, const KnownOptions& known, Options& out, std::string& error);

}  // namespace publish
