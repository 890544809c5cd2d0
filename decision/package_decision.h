// What becomes of an accepted update element's package, and the package-folder clean-up.
#pragma once
#include <string>
#include <vector>

#include "decision/rule_verdict.h"
#include "decision/update_records.h"
#include "fetch/package.h"

namespace decision {

// A package already at job's save path is checked by its digest instead of the rollout
// test (and deleted when it does not match); otherwise the machine's rollout place decides.
PackageVerdict decidePackage(const UpdateRecord& update, const fetch::PackageJob& job);

// Deletes every package file whose name contains none of the recent-file entries (letter
// case and surrounding blanks ignored). Names are gathered from the whole folder tree, but
// the deletion aims at the save folder and its temp folder only.
void cleanPackageDirectory(const std::u16string& saveDirectory, const std::vector<std::u16string>& recentFiles);

}  // namespace decision
