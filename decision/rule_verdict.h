// What the update rules decided about an update element, with the values they compared.
// The walk logs these (verdict_log.h) and the release tool words them in its own way.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "app/rollout.h"

namespace decision {

struct RuleVerdict {
    enum class Reason {
        Passes,
        // The element itself: subject the player, actual its version, bound the range's end;
        // for the channel actual is the channel and bound the partnerid list.
        Disabled,
        NotPlainName,
        BelowMinimum,
        AboveMaximum,
        ChannelExcluded,
        // A signed deployment: actual the sha256, the offered ver, or the installed version
        // with bound the offered ver.
        NoSha256,
        NotFourNumbers,
        Downgrade,
        // Regions: actual the machine's regions joined by ",", bound the list.
        Blacklisted,
        NotWhitelisted,
        // A file child: subject the full path, actual its version, bound ver, minver or maxver.
        FileNotOlder,
        FileBelowMinimum,
        FileAboveMaximum,
    };
    Reason reason;
    std::u16string subject;
    std::u16string actual;
    std::u16string bound;

    RuleVerdict(Reason r = Reason::Passes, std::u16string s = {}, std::u16string a = {}, std::u16string b = {})
        : reason(r), subject(std::move(s)), actual(std::move(a)), bound(std::move(b)) {}
    bool passes() const { return reason == Reason::Passes; }
};

// A file child's test; subject is the full path it looked at even when the child passes.
struct FileVerdict {
    RuleVerdict rule;
    std::u16string folder;  // of the named path the child refers to, empty when unknown
};

// The package of an element that applies.
struct PackageVerdict {
    enum class State { Present, Damaged, Absent };  // Damaged: on disk with another digest, deleted
    State state = State::Absent;
    std::u16string path;
    // Absent: the rollout test.
    std::u16string clientId;
    int percent = 0;
    int seed = 0;
    app::RolloutPlace place;

    bool taken() const { return state != State::Absent || place.inside; }
};

struct ElementVerdict {
    // In the order the rules run; one that did not run (an earlier one refused, or the
    // deployment does not sign) passes.
    RuleVerdict validity;
    RuleVerdict signedCheck;
    RuleVerdict region;
    std::vector<FileVerdict> files;  // up to the first that passes
    std::optional<PackageVerdict> package;

    // The first of the element's own rules that refused, or null.
    const RuleVerdict* refusal() const;
    bool applies() const { return !refusal() && !files.empty() && files.back().rule.passes(); }
    bool taken() const { return package && package->taken(); }
};

inline const RuleVerdict* ElementVerdict::refusal() const {
    for (const RuleVerdict* r : {&validity, &signedCheck, &region})
        if (!r->passes()) return r;
    return nullptr;
}

}  // namespace decision
