// ovpublish explain DOCUMENT --player-version V [--channel C] [--region R]... [--client-id ID]
//                   [--file NAME=VERSION]... [--installed-dir DIR]
//
// Runs the agent's own walk of an update-information document for a described machine and
// words its verdict on each update element: taken, or skipped with the rule and the values
// it compared, the rollout bucket where a rollout test ran, and last the package the
// machine would download.
#include <sodium.h>

#include <cstdio>

#include "decision/update_document.h"
#include "decision/update_driver.h"
#include "text/format.h"
#include "text/text.h"
#include "tools/publish/commands.h"
#include "tools/publish/described_machine.h"
#include "tools/publish/files.h"
#include "tools/publish/options.h"

namespace publish {
namespace {

constexpr char kHelp[] =
    "usage: ovpublish explain DOCUMENT --player-version V [--channel C] [--region R]...\n"
    "                 [--client-id ID] [--file NAME=VERSION]... [--installed-dir DIR]\n"
    "Evaluates the update-information document DOCUMENT with the agent's own rules for the\n"
    "machine described and prints, for each update element, taken or skipped and why, then\n"
    "the package that machine would download.\n"
    "  --player-version V   version of the installed player (Orvix.exe)\n"
    "  --channel C          the player's distribution channel (client of OrvixIS.ini)\n"
    "  --region R           region values, in the order area, country, city, province, net\n"
    "  --client-id ID       the machine's client identifier (rollout)\n"
    "  --file NAME=VERSION  a local file and its version (NAME may include folders: sub\\x.dll)\n"
    "  --installed-dir DIR  a player folder whose files answer for the rest\n";

using Reason = decision::RuleVerdict::Reason;

std::u16string shown(const std::u16string& value) { return value.empty() ? u"(none)" : value; }

// A rule that refused, in the tool's words.
std::u16string words(const decision::RuleVerdict& r, const std::u16string& name) {
    std::u16string subject = shown(r.subject), actual = shown(r.actual), bound = shown(r.bound);
    auto says = [&](const char16_t* format) { return text::format(format, subject, actual, bound); };
    switch (r.reason) {
        case Reason::Passes: break;
        case Reason::Disabled: return u"enable is not 1";
        case Reason::NotPlainName: return u"name " + name + u" is not a plain file name";
        case Reason::BelowMinimum: return says(u"player %s version %s is older than clientminver %s");
        case Reason::AboveMaximum: return says(u"player %s version %s is newer than clientmaxver %s");
        case Reason::ChannelExcluded: return text::format(u"partnerid %s excludes channel %s", bound, actual);
        case Reason::NoSha256: return u"sha256 is not 64 hex digits";
        case Reason::NotFourNumbers: return text::format(u"ver %s is not four numbers", actual);
        case Reason::Downgrade: return says(u"player %s version %s is newer than ver %s (a downgrade)");
        case Reason::Blacklisted: return text::format(u"region %s is on blacklist %s", actual, bound);
        case Reason::NotWhitelisted: return text::format(u"no region of %s is on whitelist %s", actual, bound);
        case Reason::FileNotOlder: return says(u"local file %s version %s is not older than ver %s");
        case Reason::FileBelowMinimum: return says(u"local file %s version %s is older than minver %s");
        case Reason::FileAboveMaximum: return says(u"local file %s version %s is newer than maxver %s");
    }
    return {};
}

// Why an element was not taken.
std::u16string skipReason(const decision::ElementVerdict& v, const std::u16string& name) {
    if (v.package) return u"outside the rollout";
    if (const decision::RuleVerdict* refusal = v.refusal()) return words(*refusal, name);
    if (v.files.empty()) return u"it has no file child";
    std::u16string reasons;
    for (const decision::FileVerdict& f : v.files)
        reasons += (reasons.empty() ? u"" : u"; ") + words(f.rule, name);
    return reasons;
}

// "rollout: ..." where a rollout test ran for the element.
std::u16string rolloutLine(const decision::ElementVerdict& v) {
    if (!v.package || v.package->state != decision::PackageVerdict::State::Absent) return {};
    const decision::PackageVerdict& p = *v.package;
    if (p.percent > 99) return text::format(u"rollout: share %d%%, every machine", p.percent);
    return text::format(u"rollout: client id %s, seed %d: bucket %d, share %d%% (buckets below it take it)",
                        p.clientId.empty() ? u"(empty)" : p.clientId, p.seed, p.place.bucket, p.percent);
}

void print(const std::u16string& line) { std::printf("%s\n", text::toUtf8(line).c_str()); }

// Each update element's verdict; those after the one taken were never reached.
void printVerdicts(const std::vector<decision::DocumentItem>& items,
                   const std::vector<decision::ElementVerdict>& verdicts) {
    size_t next = 0;
    for (const decision::DocumentItem& item : items) {
        if (item.kind != decision::DocumentItem::Kind::Update) continue;
        const std::u16string& name = item.update.name;
        if (next == verdicts.size()) {
            print(name + u": not evaluated (an earlier update was taken)");
            continue;
        }
        const decision::ElementVerdict& v = verdicts[next++];
        print(name + (v.taken() ? u": taken" : u": skipped (" + skipReason(v, name) + u")"));
        std::u16string rollout = rolloutLine(v);
        if (!rollout.empty()) print(u"  " + rollout);
        if (item.update.critical) print(u"  critical: a background run downloads it on a metered or roaming link too");
    }
}

void printOutcome(const decision::RunDecision& d) {
    if (d.verdict == fetch::Verdict::NoUpdate) {
        print(u"outcome: none (no update element applies; the module update runs next)");
        return;
    }
    const fetch::Package& p = d.job.package;
    std::u16string from = !p.httplinkfull.empty() ? p.httplinkfull
                          : !p.httplink.empty()   ? p.httplink + u" on the package domains"
                                                  : u"nowhere: the element names no link";
    print(u"outcome: download " + p.name + u" (md5 " + p.md5 + u") from " + from);
}

bool readMachine(const Options& o, MachineDescription& m, std::string& error) {
    m.playerVersion = text::fromUtf8(o.value("--player-version"));
    m.channel = text::fromUtf8(o.value("--channel"));
    for (const std::string& r : o.all("--region")) m.regions.push_back(text::fromUtf8(r));
    for (const std::string& f : o.all("--file")) {
        size_t eq = f.find('=');
        if (eq == std::string::npos || eq == 0) {
            error = "--file needs NAME=VERSION, not " + f;
            return false;
        }
        m.files[text::fromUtf8(f.substr(0, eq))] = text::fromUtf8(f.substr(eq + 1));
    }
    if (o.has("--installed-dir")) {
        fs::path dir = fs::absolute(fromUtf8Path(o.value("--installed-dir")));
        if (!fs::is_directory(dir)) {
            error = utf8(dir) + ": not a folder";
            return false;
        }
        m.installedDir = agentPath(dir);
    }
    return true;
}

}  // namespace

int explainCommand(int argc, char** argv) {
    Options o;
    std::string error, bytes;
    KnownOptions known{{"--player-version", "--channel", "--region", "--client-id", "--file", "--installed-dir"},
                       {}};
    if (!parseOptions(argc, argv, known, o, error)) return fail(error);
    if (o.has("--help")) return std::fputs(kHelp, stdout), 0;
    if (o.positional.size() != 1 || !o.has("--player-version"))
        return fail("explain needs DOCUMENT and --player-version (see --help)");
    MachineDescription machine;
    if (!readMachine(o, machine, error)) return fail(error);
    fs::path document = fromUtf8Path(o.positional[0]);
    std::vector<decision::DocumentItem> items;
    if (!readBytes(document, bytes)) return fail(utf8(document) + ": cannot read");
    if (!decision::parseUpdateDocument(decision::cleanDocumentBody(bytes), items))
        return fail(utf8(document) + ": does not parse as an update-information document");

    DescribedMachine host(machine);
    // A machine that has no package downloaded yet: the package folder is an empty one.
    std::error_code ec;
    fs::path empty = fs::temp_directory_path(ec) / ("ovpublish-explain-" + std::to_string(randombytes_random()));
    fs::create_directories(empty, ec);
    decision::WalkMachine walked{agentPath(empty), text::fromUtf8(o.value("--client-id")), machine.regions, false};
    decision::WalkResult result = decision::walkDocument(items, host, walked);
    fs::remove_all(empty, ec);

    printVerdicts(items, result.elements);
    printOutcome(result.decision);
    return 0;
}

}  // namespace publish
