// ovpublish explain DOCUMENT --player-version V [--channel C] [--region R]... [--client-id ID]
//                   [--file NAME=VERSION]... [--installed-dir DIR]
//
// Runs the agent's own walk of an update-information document for a described machine,
// one root child at a time, and words the verdict each rule logs for each update element:
// taken, or skipped with the rule and the values it compared, the rollout bucket where a
// rollout test ran, and last the package the machine would download.
#include <sodium.h>

#include <cstdio>

#include "app/log.h"
#include "app/rollout.h"
#include "decision/rule_texts.h"
#include "decision/update_document.h"
#include "decision/update_driver.h"
#include "platform/text.h"
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

// One verdict line of the walk: its text and values (numbers as decimal text).
struct Verdict {
    std::u16string format;
    std::vector<std::u16string> values;
    std::u16string value(size_t i) const {
        return i < values.size() && !values[i].empty() ? values[i] : u"(none)";
    }
};

// The rules' verdicts in the tool's words, the values in the order the log has them.
struct Wording {
    const char16_t* logText;
    const char16_t* words;
};
constexpr Wording kWordings[] = {
    {decision::texts::kBelowMinimum, u"player %s version %s is older than clientminver %s"},
    {decision::texts::kAboveMaximum, u"player %s version %s is newer than clientmaxver %s"},
    {decision::texts::kChannelExcluded, u"partnerid %s excludes channel %s"},
    {decision::texts::kFileNotOlder, u"local file %s version %s is not older than ver %s"},
    {decision::texts::kFileBelowMinimum, u"local file %s version %s is older than minver %s"},
    {decision::texts::kFileAboveMaximum, u"local file %s version %s is newer than maxver %s"},
};

Verdict verdictOf(std::u16string_view format, const std::vector<text::FormatArg>& values) {
    Verdict v{std::u16string(format), {}};
    for (const text::FormatArg& a : values)
        v.values.push_back(a.m_kind == text::FormatArg::Kind::Text ? std::u16string(a.m_text)
                                                                   : text::fromInt(a.m_int));
    return v;
}

bool is(const Verdict& v, std::u16string_view text) { return v.format == text; }

std::u16string joined(const std::vector<std::u16string>& values, std::u16string_view separator) {
    std::u16string out;
    for (const std::u16string& v : values) out += (out.empty() ? u"" : std::u16string(separator)) + v;
    return out.empty() ? u"(none)" : out;
}

// Why the element was not taken, from what the walk logged for it.
std::u16string skipReason(const std::vector<Verdict>& verdicts, const decision::UpdateRecord& u,
                          const MachineDescription& m) {
    std::vector<std::u16string> reasons;
    bool invalidOrRegion = false, outside = false;
    std::u16string rollout;
    for (const Verdict& v : verdicts) {
        for (const Wording& w : kWordings) {
            if (!is(v, w.logText)) continue;
            reasons.push_back(text::format(w.words, v.value(0), v.value(1), v.value(2)));
        }
        if (is(v, decision::texts::kInvalid))
            reasons.push_back(u.enable ? u"name " + u.name + u" is not a plain file name" : u"enable is not 1");
        invalidOrRegion = invalidOrRegion || is(v, decision::texts::kInvalidOrRegion);
        outside = outside || is(v, decision::texts::kOutsideRollout);
    }
    if (outside) return u"outside the rollout";
    if (invalidOrRegion && reasons.empty()) {
        if (!u.blacklist.empty()) return u"region " + joined(m.regions, u",") + u" is on blacklist " + u.blacklist;
        return u"no region of " + joined(m.regions, u",") + u" is on whitelist " + u.whitelist;
    }
    if (reasons.empty()) return u"it has no file child";
    return joined(reasons, u"; ");
}

// "rollout: ..." where a rollout test ran for the element.
std::u16string rolloutLine(const std::vector<Verdict>& verdicts, const decision::UpdateRecord& u,
                           const std::u16string& clientId) {
    for (const Verdict& v : verdicts) {
        if (!is(v, decision::texts::kRolloutTest)) continue;
        if (u.probability > 99) return text::format(u"rollout: share %d%%, every machine", u.probability);
        std::string id = text::toUtf8(clientId);
        uint64_t bucket = murmurHash64B(id.data(), id.size(), static_cast<uint32_t>(u.seed)) % 100;
        return text::format(u"rollout: client id %s, seed %d: bucket %d, share %d%% (buckets below it take it)",
                            clientId.empty() ? u"(empty)" : clientId, u.seed, static_cast<long long>(bucket),
                            u.probability);
    }
    return {};
}

void print(const std::u16string& line) { std::printf("%s\n", text::toUtf8(line).c_str()); }

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
    decision::UpdateDriver driver(host);
    // A machine that has no package downloaded yet: the package folder is an empty one.
    std::error_code ec;
    fs::path empty = fs::temp_directory_path(ec) / ("ovpublish-explain-" + std::to_string(randombytes_random()));
    fs::create_directories(empty, ec);
    driver.m_saveDirectory = agentPath(empty);
    driver.m_clientId = text::fromUtf8(o.value("--client-id"));
    driver.m_context.regions = decision::gatherRegionValues(host);
    std::vector<Verdict> verdicts;  // of the root child being walked
    diag::setLineObserver([&verdicts](std::u16string_view format, const std::vector<text::FormatArg>& values) {
        verdicts.push_back(verdictOf(format, values));
    });
    diag::setLogging(true);

    decision::RunDecision taken;
    bool done = false;
    for (const decision::DocumentItem& item : items) {
        bool isUpdate = item.kind == decision::DocumentItem::Kind::Update;
        const std::u16string& name = item.update.name;
        if (done) {
            if (isUpdate) print(name + u": not evaluated (an earlier update was taken)");
            continue;
        }
        verdicts.clear();
        decision::RunDecision d = driver.walk({item});
        if (!isUpdate) continue;
        done = d.verdict == fetch::Verdict::Download || d.verdict == fetch::Verdict::PackagePresent;
        print(name + (done ? u": taken" : u": skipped (" + skipReason(verdicts, item.update, machine) + u")"));
        std::u16string rollout = rolloutLine(verdicts, item.update, driver.m_clientId);
        if (!rollout.empty()) print(u"  " + rollout);
        if (done) taken = d;
    }
    diag::setLogging(false);
    diag::setLineObserver(nullptr);
    fs::remove_all(empty, ec);
    if (!done) {
        print(u"outcome: none (no update element applies; the module update runs next)");
        return 0;
    }
    const fetch::Package& p = taken.job.package;
    std::u16string from = !p.httplinkfull.empty() ? p.httplinkfull
                          : !p.httplink.empty()   ? p.httplink + u" on the package domains"
                                                  : u"nowhere: the element names no link";
    print(u"outcome: download " + p.name + u" (md5 " + p.md5 + u") from " + from);
    return 0;
}

}  // namespace publish
