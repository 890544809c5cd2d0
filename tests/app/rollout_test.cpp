#include "app/rollout.h"

#include <gtest/gtest.h>

#include "text/text.h"

TEST(Rollout, HashOfKnownIdentifiers) {
    EXPECT_EQ(app::murmurHash64B("abc", 3, 1000), 0x23D048F5D8AC761BULL);
    EXPECT_EQ(app::murmurHash64B("abc", 3, 1000) % 100, 83u);
    EXPECT_EQ(app::murmurHash64B("", 0, 1000) % 100, 69u);
}

TEST(Rollout, MembershipFollowsThePercentage) {
    // abc lands on 83: in from 84 up.
    EXPECT_FALSE(app::inRollout(u"abc", 83, 1000));
    EXPECT_TRUE(app::inRollout(u"abc", 84, 1000));
    // The empty identifier still hashes (69).
    EXPECT_FALSE(app::inRollout(u"", 69, 1000));
    EXPECT_TRUE(app::inRollout(u"", 70, 1000));
    EXPECT_FALSE(app::inRollout(u"abc", 0, 1000));
    EXPECT_FALSE(app::inRollout(u"abc", -5, 1000));
    // The place names the bucket, a full share included.
    app::RolloutPlace place = app::rolloutPlace(u"abc", 100, 1000);
    EXPECT_EQ(place.bucket, 83);
    EXPECT_TRUE(place.inside);
    EXPECT_EQ(app::rolloutPlace(u"abc", 54, 7).bucket, 54);
    EXPECT_FALSE(app::rolloutPlace(u"abc", 54, 7).inside);
}

TEST(Rollout, FullShareLetsEveryoneInEvenWhereTheHashSays99) {
    std::u16string top;
    for (int i = 0; i < 10000 && top.empty(); ++i) {
        std::string id = "client-" + std::to_string(i);
        if (app::murmurHash64B(id.data(), id.size(), 1000) % 100 == 99) top = text::fromUtf8(id);
    }
    ASSERT_FALSE(top.empty());
    EXPECT_FALSE(app::inRollout(top, 99, 1000));
    EXPECT_TRUE(app::inRollout(top, 100, 1000));
}

TEST(Rollout, NegativeSeedIsItsUnsignedPattern) {
    EXPECT_EQ(app::inRollout(u"some-longer-client-identifier", 50, -1),
              app::murmurHash64B("some-longer-client-identifier", 29, 0xFFFFFFFFu) % 100 < 50);
}
