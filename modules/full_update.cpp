// The module update's entry and the walk over the nodes of upcfg.xml.
#include "app/host_probes.h"
#include "app/rollout.h"
#include "app/settings.h"
#include "modules/module_paths.h"
#include "modules/module_updater.h"
#include "platform/files.h"
#include "platform/system.h"

namespace modules {

namespace {

std::u16string playerRegistryPath() { return std::u16string(u"HKEY_LOCAL_MACHINE$$$$") + app::kAppPathsKey + u"$$$$ "; }

// The product version of the agent itself, for a player without a version resource.
std::u16string ownProductVersion() {
    app::VersionRecord record = app::versionRecord(plat::executablePath());
    const uint16_t* v = record.productVersion;
    return text::format(u"%d.%d.%d.%d", v[0], v[1], v[2], v[3]);
}

bool insideVersionWindow(const UpdateNode& node, const std::u16string& version) {
    // compareVersions answers 0 for a bound that is not four numbers, so such a bound
    // never excludes a version.
    return (node.minVersion.empty() || app::compareVersions(version, node.minVersion) >= 0) &&
           (node.maxVersion.empty() || app::compareVersions(version, node.maxVersion) <= 0);
}

// The registered player's folder; false when the registration cannot be read or names
// no existing folder. playerExe gets the registered executable's path.
bool registeredPlayerFolder(std::u16string& folder, std::u16string& playerExe) {
    playerExe = playerRegistryPath();
    if (!app::readRegistryPath(playerExe)) return false;
    folder = plat::parentFolder(playerExe);
    return plat::directoryExists(folder);
}

}  // namespace

bool ModuleUpdater::RunModuleUpdate(std::u16string clientId) {
    std::u16string cfgOverride = app::settings::readString(app::settings::kSectionUpdate, app::settings::kKeyDbgCfg, u"",
                                                      app::settings::kDbgCfgChars, app::settings::kOvUpdateIni);
    // Without a readable registration there is no folder to update: the staging list would
    // name files under the registry path text and the swap could only fail. A missing
    // executable is no reason to stop: a swap of the executable itself may have been cut
    // short, and the run then goes on with the agent's own version.
    std::u16string exe;
    if (!registeredPlayerFolder(m_playerPath, exe)) return false;
    if (plat::pathExists(exe)) DeleteOldFiles(m_playerPath);
    std::u16string version = app::fileVersion(exe);
    m_workingRoot = m_playerPath;
    restoreInterruptedSwap(m_workingRoot);

    // A swap that was rolled back is no completed update.
    return DoFullUpdate(cfgOverride, clientId, version) && ReplaceFiles(m_workingRoot) >= 0;
}

void ModuleUpdater::RestoreInterruptedSwap() {
    std::u16string folder, exe;
    if (!registeredPlayerFolder(folder, exe)) return;
    m_playerPath = m_workingRoot = folder;
    restoreInterruptedSwap(folder);
}

bool ModuleUpdater::DoFullUpdate(const std::u16string& cfgOverride, const std::u16string& clientId,
                                 std::u16string currentVersion) {
    log(u"DoFullUpdate start");
    if (currentVersion.empty()) currentVersion = ownProductVersion();
    std::vector<UpdateNode> nodes;
    if (!DownloadUpdateCfgFile(cfgOverride, nodes) || nodes.empty()) {
        log(u"DownloadUpdateCfgFile failed or up nodes empty\r\n");
        return false;
    }
    for (const UpdateNode& node : nodes) {
        log(u"判断是否符合灰度控制，本机使用的clientid：%s, 控制的比例值为：%d，种子为：%d", clientId,
            node.percent, node.seed);
        bool inside = app::inRollout(clientId, node.percent, node.seed);
        log(inside ? u"落在灰度内" : u"不在灰度内");
        if (!inside || !insideVersionWindow(node, currentVersion) || node.sourceDir.empty()) continue;
        if (DoUpdateNow(node.sourceDir, m_workingRoot)) {
            log(u"Update finish success\r\n");
            return true;
        }
        log(u"Update finish failed\r\n");
    }
    log(u"don't need update\r\n");
    return false;
}

}  // namespace modules
