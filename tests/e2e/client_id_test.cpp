// The client identifier: the maker's library through the player's registration, or the
// test value of Testing.ini.
#include <gtest/gtest.h>

#include "app/client_id.h"
#include "e2e/e2e_fixture.h"
#include "text/text.h"

TEST(ClientId, FromTheLibraryStableAndLowerCase) {
    e2e::AgentSandbox box;
    box.installPlayer();

    std::u16string cached;
    std::u16string id = app::clientIdentifier(cached);
    ASSERT_FALSE(id.empty());
    EXPECT_LE(id.size(), 127u);
    EXPECT_EQ(id, text::toLower(id));
    EXPECT_EQ(cached, id);
    std::u16string fresh;
    EXPECT_EQ(app::clientIdentifier(fresh), id);

    // ClientID.dll is the older name of the same library.
    e2e::fs::rename(box.playerFolder() / "CID.dll", box.playerFolder() / "ClientID.dll");
    fresh.clear();
    EXPECT_EQ(app::clientIdentifier(fresh), id);
}

TEST(ClientId, TestValueIsTakenAsWritten) {
    e2e::AgentSandbox box;
    box.installPlayer();
    box.addSetting("Testing.ini", "Device", "ClientIDForTest", "AbC");
    std::u16string cached;
    EXPECT_EQ(app::clientIdentifier(cached), u"AbC");

    std::u16string held = u"kept";
    EXPECT_EQ(app::clientIdentifier(held), u"kept");
}

// Without a library nothing is found, and the next call looks again.
TEST(ClientId, MissingLibraryIsLookedUpAgain) {
    e2e::AgentSandbox box;
    std::u16string cached;
    EXPECT_EQ(app::clientIdentifier(cached), u"");
    box.installPlayer();
    EXPECT_FALSE(app::clientIdentifier(cached).empty());
}
