#include "core/platform/GatheringDialogs.h"
#include "core/platform/FakeUi.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace morvane::platform;
using ::testing::HasSubstr;

namespace {

TEST(GatheringDialogs, NoticesOfOneHandOverMakeOneMessageAndQuestionsStillAsk) {
    FakeDialogs inner;
    GatheringDialogs dialogs(inner);
    dialogs.beginGathering();
    dialogs.error("a.txt: No such file");
    dialogs.beginGathering(); // nested: gathers into the outer one
    dialogs.message(MsgKind::Warning, "b.txt is UTF-16");
    dialogs.endGathering("inner heading");
    EXPECT_TRUE(inner.shown.empty());
    // A question needs its answer now.
    inner.answers.push_back(MsgResult::No);
    EXPECT_EQ(dialogs.message(MsgKind::Confirmation, "Save?", mbYesNo), MsgResult::No);
    ASSERT_EQ(inner.shown.size(), 1u);
    dialogs.error("c.txt: Permission denied");
    dialogs.endGathering("Problems:");
    ASSERT_EQ(inner.shown.size(), 2u);
    EXPECT_EQ(inner.shown[1].kind, MsgKind::Error); // the most severe kind
    EXPECT_EQ(inner.shown[1].text,
              "Problems:\n\na.txt: No such file\n\nb.txt is UTF-16\n\nc.txt: Permission denied");
    // Outside a gathering, messages pass at once, and a single kept one shows unchanged.
    dialogs.message(MsgKind::Information, "now");
    EXPECT_EQ(inner.shown.back().text, "now");
    dialogs.beginGathering();
    dialogs.message(MsgKind::Warning, "only one", mbOK, "Caption");
    dialogs.endGathering("unused");
    EXPECT_EQ(inner.shown.back().text, "only one");
    EXPECT_EQ(inner.shown.back().caption, "Caption");
    EXPECT_EQ(inner.shown.size(), 4u);
}

TEST(GatheringDialogs, AFloodOfNoticesIsQuotedUpToALimitAndCounted) {
    FakeDialogs inner;
    GatheringDialogs dialogs(inner);
    dialogs.beginGathering();
    for (int i = 0; i < 500; ++i)
        dialogs.error("missing " + std::to_string(i));
    dialogs.endGathering("Problems:");
    ASSERT_EQ(inner.shown.size(), 1u);
    EXPECT_THAT(inner.shown[0].text, HasSubstr("missing 19\n"));
    EXPECT_THAT(inner.shown[0].text, ::testing::Not(HasSubstr("missing 20")));
    EXPECT_THAT(inner.shown[0].text, HasSubstr("and 480 more."));
    // Nothing kept, nothing shown.
    dialogs.beginGathering();
    dialogs.endGathering("Problems:");
    EXPECT_EQ(inner.shown.size(), 1u);
}

} // namespace
