#include "agent/update_run.h"

#include <gtest/gtest.h>

#include "app/md5.h"
#include "agent/process_state.h"
#include "fetch/engine_callback.h"
#include "app/settings.h"
#include "platform/named_mutex.h"
#include "platform/thread_messages.h"
#include "support/host_sandbox.h"

namespace {

constexpr char16_t kSilentUpdateObject[] = u"AEE5851B-96A7-4F3A-8C04-D2CAE21C8003";
constexpr char kPackage[] = "installer bytes";

// The messages this thread holds, in order.
std::vector<uint32_t> drainMessages() {
    std::vector<uint32_t> messages;
    plat::ThreadMessage m;
    while (plat::peekThreadMessage(m, 0, 0, true)) messages.push_back(m.message);
    return messages;
}

bool silentObjectExists() { return plat::UniqueMutex(plat::openNamedMutex(kSilentUpdateObject)).get() != nullptr; }

// A background run in a sandbox with no player, no servers within reach and the local
// debug document switched on; this thread stands in for the normal update thread.
class UpdateRun : public testsupport::HostTest {
protected:
    void SetUp() override {
        std::filesystem::create_directories(native("appdata/Lumora Video/Orvix/OvUpdate"));
        write("appdata/Lumora Video/Orvix/OvUpdate.ini", "[Test]\r\ndebug=1\r\nreadlocalxml=1\r\n");
        agent::processState().normalThreadId = plat::currentThreadId();
        drainMessages();
    }
    void TearDown() override { agent::processState().normalThreadId = 0; }
    void localDocument(const std::string& children) {
        write("appdata/Lumora Video/Orvix/OvUpdate_Debug.xml", "<info>" + children + "</info>");
    }
    std::u16string recordedFile() const {
        return app::settings::readString(app::settings::kSectionUpdateInfo, app::settings::kKeyUpdateFile, u"", 260,
                                    app::settings::kOvUpdateIni);
    }
};

}  // namespace

// The stage holds the silent-update object only while it runs, and leaves it alone while
// another updater holds it.
TEST_F(UpdateRun, ModuleStageLeavesNoSilentUpdateObjectBehind) {
    agent::runModuleUpdateStage(u"abc");
    EXPECT_FALSE(silentObjectExists());

    plat::UniqueMutex other(plat::createNamedMutex(kSilentUpdateObject, false, true));
    ASSERT_TRUE(other);
    agent::runModuleUpdateStage(u"abc");
    EXPECT_TRUE(silentObjectExists());
    other.reset();
    EXPECT_FALSE(silentObjectExists());
}

// Every way a run ends, with or without the module stage, posts the end of the run once.
TEST_F(UpdateRun, EveryEndOfTheRunIsPostedOnce) {
    const std::string md5 = app::md5OfBuffer(kPackage, sizeof kPackage - 1);
    struct Case {
        const char* what;
        std::string document;  // none: no local document
        bool anotherUpdater;
        bool recorded;
    } cases[] = {
        {"no document", "", false, false},
        {"no update", "<update name='p.exe' enable='0'/>", false, false},
        {"no update, the module stage skipped", "<update name='p.exe' enable='0'/>", true, false},
        {"package on disk", "<update name='pkg.exe' md5='" + md5 + "'><file name='absent.dll' path='9'/></update>",
         false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(native("appdata/Lumora Video/Orvix/OvUpdate_Debug.xml"));
        if (!c.document.empty()) localDocument(c.document);
        write("appdata/Lumora Video/Orvix/OvUpdate/pkg.exe", kPackage);
        plat::UniqueMutex other;
        if (c.anotherUpdater) other.reset(plat::createNamedMutex(kSilentUpdateObject, false, true));

        agent::startUpdateRun();
        EXPECT_EQ(drainMessages(), std::vector<uint32_t>{agent::UM_UPDATE_RUN_DONE});
        EXPECT_EQ(silentObjectExists(), c.anotherUpdater);
        EXPECT_EQ(recordedFile(), c.recorded ? u"pkg.exe" : u"");
    }
}

// Engine reports that leave the download running post nothing; a failed engine download
// goes on over HTTP, and with no link to fetch from the run ends there.
TEST_F(UpdateRun, EngineReportsEndTheRunOnlyWhenTheyEndTheDownload) {
    agent::startUpdateRun();  // no local document
    drainMessages();
    for (uint32_t report : {fetch::UM_ENGINE_CALLBACK_READY, fetch::UM_ENGINE_TASK_STATUS}) {
        agent::dispatchRunMessage(report);
        EXPECT_TRUE(drainMessages().empty()) << report;
    }
    agent::dispatchRunMessage(fetch::UM_ENGINE_DOWNLOAD_FAILED);
    EXPECT_EQ(drainMessages(), std::vector<uint32_t>{agent::UM_UPDATE_RUN_DONE});
    EXPECT_FALSE(silentObjectExists());
}
