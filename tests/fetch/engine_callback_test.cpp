#include "fetch/engine_callback.h"

#include <gtest/gtest.h>

#include "fetch/fetch_fixture.h"

using fetchtest::nextMessage;

// Called by the engine through the interface's slots, as the engine would.
TEST(EngineCallback, PostsOnlyWhenTheEventHappened) {
    plat::ThreadMessage ignored;
    plat::peekThreadMessage(ignored, 0, 0, false);
    INimboDownloaderTaskCallBack* callBack = new fetch::NimboDownloadCallBack(plat::currentThreadId());

    EXPECT_EQ(callBack->onPackageDone(0), 0);
    EXPECT_EQ(callBack->onDownloadFailed(0, 5), 0);
    EXPECT_EQ(callBack->onTaskStatus(0, 1, 1), 0);
    EXPECT_EQ(callBack->onCallbackReady(0), 0);
    EXPECT_EQ(nextMessage(0), 0u);

    EXPECT_NE(callBack->onTaskStatus(3, 0, 0), 0);
    EXPECT_NE(callBack->onDownloadFailed(2, 0), 0);
    EXPECT_NE(callBack->onPackageDone(1), 0);
    EXPECT_NE(callBack->onCallbackReady(1), 0);
    EXPECT_EQ(nextMessage(0), fetch::UM_ENGINE_TASK_STATUS);
    EXPECT_EQ(nextMessage(0), fetch::UM_ENGINE_DOWNLOAD_FAILED);
    EXPECT_EQ(nextMessage(0), fetch::UM_ENGINE_PACKAGE_DONE);
    EXPECT_EQ(nextMessage(0), fetch::UM_ENGINE_CALLBACK_READY);

    callBack->destroy();

    // Without a queue at the receiving end the post fails and says so.
    callBack = new fetch::NimboDownloadCallBack(0);
    EXPECT_EQ(callBack->onPackageDone(1), 0);
    callBack->destroy();
}
