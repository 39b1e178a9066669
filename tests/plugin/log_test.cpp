// The one logging function and the notification: what reaches the host, and
// that nothing is called before the host has handed over its callback.
#include <gtest/gtest.h>

#include <string>

#include "plugin/app.h"
#include "support/test_host.h"

namespace {

class LogTest : public ::testing::Test {
  protected:
    void TearDown() override { RemoveFakeHost(); }
};

struct CutCase {
    size_t length;
    size_t logged;
};

void PrintTo(const CutCase& c, std::ostream* os) {
    *os << c.length << " characters";
}

class LogCut : public LogTest, public ::testing::WithParamInterface<CutCase> {};

TEST_P(LogCut, LinesAreCutAt2047Characters) {
    FakeHost& host = InstallFakeHost();
    std::string text;
    for (size_t i = 0; i < GetParam().length; ++i) text += static_cast<char>('a' + i % 26);
    LogMessage("%s", text.c_str());
    ASSERT_EQ(host.logs.size(), 1u);
    EXPECT_EQ(host.logs[0].first, "[Lumora Plugin]");
    EXPECT_EQ(host.logs[0].second, text.substr(0, GetParam().logged));
}

INSTANTIATE_TEST_SUITE_P(Lengths, LogCut,
                         ::testing::Values(CutCase{0, 0}, CutCase{1, 1}, CutCase{2046, 2046},
                                           CutCase{2047, 2047}, CutCase{2048, 2047}, CutCase{10000, 2047}));

TEST_F(LogTest, FormatsPrintfStyleAndHandsBackTheHostsResult) {
    FakeHost& host = InstallFakeHost();
    host.logResult = 17;
    EXPECT_EQ(LogMessage("Refresh %d: all pages done (last=%d)", 3, 40), 17);
    ASSERT_EQ(host.logs.size(), 1u);
    EXPECT_EQ(host.logs[0].second, "Refresh 3: all pages done (last=40)");
}

TEST_F(LogTest, NotifyPassesTheSubCodeAndOne) {
    FakeHost& host = InstallFakeHost();
    NotifyHost(PHC_NOTIFY_START);
    NotifyHost(PHC_NOTIFY_IMAGES);
    ASSERT_EQ(host.notifies.size(), 2u);
    EXPECT_EQ(host.notifies[0], std::make_pair(HostWord(44), HostWord(1)));
    EXPECT_EQ(host.notifies[1], std::make_pair(HostWord(22), HostWord(1)));
}

TEST_F(LogTest, BeforeTheCallbackArrivesLinesAndNotificationsAreDropped) {
    RemoveFakeHost();
    EXPECT_EQ(LogMessage("early %d", 1), 0);
    EXPECT_EQ(NotifyHost(PHC_NOTIFY_START), 0);
    // Dropped, not queued: the host sees only what came after message 3.
    FakeHost& host = InstallFakeHost();
    LogMessage("late");
    ASSERT_EQ(host.logs.size(), 1u);
    EXPECT_EQ(host.logs[0].second, "late");
    EXPECT_TRUE(host.notifies.empty());
}

}  // namespace
