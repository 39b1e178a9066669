// Refresh passes: which feeds are asked for a page, what an answer does to
// the feed and its pool, failures and their count, and restarts of paging.
#include <climits>

#include "support/run_fixture.h"

using namespace erun;

namespace {

class RefreshTest : public EngineTest {};

struct GatingCase {
    const char* name;
    std::function<void(CLumoraEngine&, CLumoraFeed&, EngineTest*)> setup;
    int expectedPage;          // page asked, or 0 for no request
    const char* expectedLine;  // start of a line the pass must write once (empty: none checked)
};

class RefreshGating : public EngineTest, public ::testing::WithParamInterface<GatingCase> {};

TEST_P(RefreshGating, AsksOnlyFeedsWithRoom) {
    const GatingCase& c = GetParam();
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    client.onPage = Catalog(3, 9);
    c.setup(*engine, engine->ForTesting().Feeds()[0], this);
    engine->Refresh(0);
    if (c.expectedPage == 0) {
        EXPECT_TRUE(client.requests.empty()) << c.name;
    } else {
        ASSERT_EQ(client.requests.size(), 1u) << c.name;
        EXPECT_EQ(client.requests[0].page, c.expectedPage) << c.name;
    }
    if (*c.expectedLine) {
        EXPECT_EQ(Log().LinesStartingWith(c.expectedLine).size(), 1u) << c.name << "\n" << Log().Dump();
    }
}

void NoSetup(CLumoraEngine&, CLumoraFeed&, EngineTest*) {}

INSTANTIATE_TEST_SUITE_P(
    Table, RefreshGating,
    ::testing::Values(GatingCase{"fresh feed asks page 1", NoSetup, 1, "Refresh 0: page=1, lastTm="},
                      GatingCase{"disabled",
                                 [](CLumoraEngine&, CLumoraFeed& f, EngineTest*) {
                                     f.Flg = 0x10000;
                                     f.Retries = 4;
                                 },
                                 0, "Refresh 0: is disabled (retries 4)"},
                      GatingCase{"all pages done",
                                 [](CLumoraEngine&, CLumoraFeed& f, EngineTest*) {
                                     f.Page = 3;
                                     f.LastPage = 3;
                                 },
                                 0, "Refresh 0: all pages done (last=3)"},
                      GatingCase{"paging goes on",
                                 [](CLumoraEngine&, CLumoraFeed& f, EngineTest*) {
                                     f.Page = 2;
                                     f.LastPage = 3;
                                 },
                                 3, ""},
                      GatingCase{"per-feed cache full",
                                 [](CLumoraEngine& e, CLumoraFeed&, EngineTest* t) {
                                     // Records of files that exist: records of missing files are dropped.
                                     e.ForTesting().Settings().MaxLocal = 2;
                                     t->AddCached(2, 0);
                                     t->AddCached(1, 1);  // another feed's file
                                 },
                                 0, "Refresh 0: per-feed cache full (2/2)"},
                      GatingCase{"another feed's files do not count",
                                 [](CLumoraEngine& e, CLumoraFeed&, EngineTest*) {
                                     e.ForTesting().Settings().MaxLocal = 2;
                                     e.ForTesting().CacheList().Records().AddTail(CFileData("c.jpg", "c", 1));
                                     e.ForTesting().CacheList().Records().AddTail(
                                         CFileData("d.jpg", "d", -1));
                                 },
                                 1, ""},
                      GatingCase{"MaxLocal 0",
                                 [](CLumoraEngine& e, CLumoraFeed&, EngineTest*) {
                                     e.ForTesting().Settings().MaxLocal = 0;
                                 },
                                 0, "Refresh 0: per-feed cache full (0/0)"},
                      GatingCase{"MaxLocal negative",
                                 [](CLumoraEngine& e, CLumoraFeed&, EngineTest*) {
                                     e.ForTesting().Settings().MaxLocal = -5;
                                 },
                                 0, "Refresh 0: per-feed cache full (0/-5)"},
                      GatingCase{"max photos reached after page 1",
                                 [](CLumoraEngine&, CLumoraFeed& f, EngineTest* t) {
                                     f.Page = 1;
                                     for (int i = 0; i < 499; ++i)
                                         f.Items.Add(MakeItem("p" + std::to_string(i)));
                                     t->AddCached(1, 0);
                                 },
                                 0, "Refresh 0: max photos reached (500/500)"},
                      GatingCase{"max photos never holds page 1",
                                 [](CLumoraEngine&, CLumoraFeed& f, EngineTest*) {
                                     for (int i = 0; i < 600; ++i)
                                         f.Items.Add(MakeItem("p" + std::to_string(i)));
                                 },
                                 1, ""},
                      GatingCase{"one below max photos",
                                 [](CLumoraEngine&, CLumoraFeed& f, EngineTest*) {
                                     f.Page = 4;
                                     for (int i = 0; i < 499; ++i)
                                         f.Items.Add(MakeItem("p" + std::to_string(i)));
                                 },
                                 5, ""},
                      GatingCase{"page at INT_MAX wraps to page 1",
                                 [](CLumoraEngine&, CLumoraFeed& f, EngineTest*) { f.Page = INT_MAX; }, 1,
                                 "Refresh 0: page=1, lastTm="},
                      GatingCase{"negative page asks page 1",
                                 [](CLumoraEngine&, CLumoraFeed& f, EngineTest*) { f.Page = -7; }, 1, ""},
                      GatingCase{"feed type 2 never asks",
                                 [](CLumoraEngine&, CLumoraFeed& f, EngineTest*) { f.Type = 2; }, 0, ""}),
    [](const ::testing::TestParamInfo<GatingCase>& info) {
        std::string n = info.param.name;
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

// The log line of a query carries the page, the time text and whole minutes.
TEST_F(RefreshTest, QueryLineShowsMinutesSinceLastCompletedPass) {
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    client.onPage = Catalog(1, 5);
    engine->ForTesting().CacheList().LastTime().m_dt =
        clock.dateBase - (90.0 + 29.0 / 60) / 1440.0;  // 90 min 29 s ago
    engine->Refresh(0);
    auto lines = Log().LinesStartingWith("Refresh 0: page=1, lastTm=");
    ASSERT_EQ(lines.size(), 1u) << Log().Dump();
    const std::string tail = ", min=90.0, retries=0";
    EXPECT_EQ(lines[0].substr(lines[0].size() - tail.size()), tail);
    EXPECT_NE(lines[0].find(plat::OleDateToText(engine->ForTesting().CacheList().LastTime().m_dt)),
              std::string::npos);
}

struct FailureCase {
    int retriesBefore;
    bool pagingKept;
    bool disabled;
};

class RefreshFailures : public EngineTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(RefreshFailures, CountRetriesResetPagingAndDisable) {
    const FailureCase& c = GetParam();
    CLumoraFeed f = SearchFeed(0);
    f.Retries = c.retriesBefore;
    f.Page = 4;
    f.LastPage = 9;
    f.Seed = "S33d";
    engine->ForTesting().Feeds().Add(f);
    client.onPage = [](int, CItemArray&, std::string&, int&) { return 0; };
    EXPECT_EQ(engine->Refresh(0), 0);
    ASSERT_EQ(client.requests.size(), 1u);
    EXPECT_EQ(client.requests[0].page, 5);
    const CLumoraFeed& g = engine->ForTesting().Feeds()[0];
    EXPECT_EQ(g.Retries, c.retriesBefore + 1);
    if (c.pagingKept) {
        EXPECT_EQ(g.Page, 4);
        EXPECT_EQ(g.LastPage, 9);
        EXPECT_EQ(g.Seed, "S33d");
    } else {
        EXPECT_EQ(g.Page, 0);
        EXPECT_EQ(g.LastPage, 0);
        EXPECT_EQ(g.Seed, "");
    }
    EXPECT_EQ(g.IsEnabled(), !c.disabled);
    EXPECT_EQ(Log().Has("     too many errors, disabled"), c.disabled);
}

INSTANTIATE_TEST_SUITE_P(Table, RefreshFailures,
                         ::testing::Values(FailureCase{0, true, false}, FailureCase{1, true, false},
                                           FailureCase{2, false, false}, FailureCase{5, false, false},
                                           FailureCase{8, false, false}, FailureCase{9, false, true},
                                           FailureCase{12, false, true}));

TEST_F(RefreshTest, FromTheThirdFailureEveryAttemptAsksPageOneWithoutSeed) {
    CLumoraFeed f = SearchFeed(0);
    f.Page = 6;
    f.LastPage = 20;
    f.Seed = "abc";
    engine->ForTesting().Feeds().Add(f);
    client.onPage = [](int, CItemArray&, std::string&, int&) { return 0; };
    for (int pass = 0; pass < 12; ++pass) engine->Refresh(0);
    // Ten attempts, the tenth disables: passes 11 and 12 ask nothing.
    ASSERT_EQ(client.requests.size(), 10u);
    for (size_t k = 0; k < client.requests.size(); ++k) {
        const int expected = k < 3 ? 7 : 1;
        EXPECT_EQ(client.requests[k].page, expected) << "attempt " << k + 1;
        EXPECT_EQ(client.requests[k].seed, k < 3 ? "abc" : "") << "attempt " << k + 1;
    }
    EXPECT_FALSE(engine->ForTesting().Feeds()[0].IsEnabled());
    // Passes 11 and 12 find it disabled; the log says so once.
    EXPECT_EQ(Log().Count("Refresh 0: is disabled (retries 10)"), 1);
}

TEST_F(RefreshTest, UnknownFeedTypeFailsWithoutRequestAndIsDisabledAfterTenPasses) {
    CLumoraFeed f;
    f.Type = 2;
    engine->ForTesting().Feeds().Add(f);
    client.onPage = Catalog(2, 2);
    for (int pass = 0; pass < 10; ++pass) engine->Refresh(0);
    EXPECT_EQ(client.pageCalls.load(), 0);
    EXPECT_EQ(engine->ForTesting().Feeds()[0].Retries, 10);
    EXPECT_FALSE(engine->ForTesting().Feeds()[0].IsEnabled());
}

TEST_F(RefreshTest, SuccessAdvancesPagingPoolsNewIdsAndWritesPagingFile) {
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    engine->ForTesting().Feeds()[0].Retries = 2;
    client.onPage = [](int, CItemArray& items, std::string& seed, int& lastPage) {
        items.Add(MakeItem("a"));
        items.Add(MakeItem("b"));
        items.Add(MakeItem("a"));  // twice in one answer
        items.Add(MakeItem("known"));
        seed = "NewSeed";
        lastPage = 7;
        return 1;
    };
    engine->ForTesting().Ids().insert("known");
    EXPECT_EQ(engine->Refresh(0), 1);
    const CLumoraFeed& f = engine->ForTesting().Feeds()[0];
    EXPECT_EQ(f.Page, 1);
    EXPECT_EQ(f.LastPage, 7);
    EXPECT_EQ(f.Seed, "NewSeed");
    EXPECT_EQ(f.Retries, 0);
    EXPECT_EQ(f.Flg, 0x10001);
    ASSERT_EQ(f.Items.GetSize(), 2);
    EXPECT_EQ(f.Items[0].Id, "a");
    EXPECT_EQ(f.Items[1].Id, "b");
    EXPECT_EQ(engine->ForTesting().Ids().size(), 3u);
    EXPECT_TRUE(Log().Has("Refresh 0: 4 items found, page 1/7 ")) << Log().Dump();
    EXPECT_TRUE(plat::PathExists(Join(folder, "vdt_vd_paging.lst")));
    EXPECT_TRUE(plat::PathExists(Join(folder, "vdt_vd_files.lst")));
}

TEST_F(RefreshTest, AnswerOfOnlyKnownIdsStillCountsAsSuccess) {
    CLumoraFeed f = SearchFeed(0);
    f.Page = 2;
    f.Retries = 1;
    engine->ForTesting().Feeds().Add(f);
    engine->ForTesting().Ids().insert("x1");
    engine->ForTesting().Ids().insert("x2");
    client.onPage = [](int, CItemArray& items, std::string&, int& lastPage) {
        items.Add(MakeItem("x1"));
        items.Add(MakeItem("x2"));
        lastPage = 3;
        return 1;
    };
    EXPECT_EQ(engine->Refresh(0), 1);
    EXPECT_EQ(engine->ForTesting().Feeds()[0].Page, 3);
    EXPECT_EQ(engine->ForTesting().Feeds()[0].Retries, 0);
    EXPECT_TRUE(engine->ForTesting().Feeds()[0].Items.IsEmpty());
    EXPECT_TRUE(Log().Has("Refresh 0: 2 items found, page 3/3 (Completed)")) << Log().Dump();
}

struct CompletedCase {
    int page;      // page the answer is for
    int lastPage;  // last page the answer reports
    bool completed;
};
class RefreshCompletedText : public EngineTest, public ::testing::WithParamInterface<CompletedCase> {};
TEST_P(RefreshCompletedText, MarksTheLastPage) {
    const CompletedCase& c = GetParam();
    CLumoraFeed f = SearchFeed(0);
    f.Page = c.page - 1;
    engine->ForTesting().Feeds().Add(f);
    client.onPage = Catalog(1, c.lastPage);
    engine->Refresh(0);
    const std::string line = "Refresh 0: 1 items found, page " + std::to_string(c.page) + "/" +
                             std::to_string(c.lastPage) + " " + (c.completed ? "(Completed)" : "");
    EXPECT_TRUE(Log().Has(line)) << line << "\n" << Log().Dump();
}
INSTANTIATE_TEST_SUITE_P(Table, RefreshCompletedText,
                         ::testing::Values(CompletedCase{1, 1, true}, CompletedCase{1, 2, false},
                                           CompletedCase{2, 2, true}, CompletedCase{3, 0, true},
                                           CompletedCase{5, 40, false}));

// Ids and seeds end up in line-based files: control characters there would
// split records; such ids are dropped like missing ones, seeds cleaned.
TEST_F(RefreshTest, UnusableIdsAreDroppedAndSeedsCleaned) {
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    client.onPage = [](int, CItemArray& items, std::string& seed, int& lastPage) {
        const char* bad[] = {"cr\rx", "lf\nx", "tab\tx", "nul-free\x01", "del\x7f"};
        for (const char* id : bad) items.Add(MakeItem(id));
        items.Add(MakeItem(std::string(256, 'L')));  // longer than any id
        items.Add(MakeItem(std::string(255, 'k')));  // long but fine
        items.Add(MakeItem("good"));
        seed = "se\r\ned\t1";
        lastPage = 4;
        return 1;
    };
    EXPECT_EQ(engine->Refresh(0), 1);
    const CLumoraFeed& f = engine->ForTesting().Feeds()[0];
    ASSERT_EQ(f.Items.GetSize(), 2);
    EXPECT_EQ(f.Items[0].Id, std::string(255, 'k'));
    EXPECT_EQ(f.Items[1].Id, "good");
    EXPECT_EQ(engine->ForTesting().Ids().size(), 2u);
    EXPECT_EQ(f.Seed, "seed1");
    EXPECT_TRUE(Log().Has("Refresh 0: 2 items found, page 1/4 ")) << Log().Dump();
}

TEST_F(RefreshTest, CollectionFeedAsksItsCollectionAndKeepsNoSeed) {
    engine->ForTesting().Feeds().Add(CollectionFeed(77));
    client.onPage = [](int, CItemArray& items, std::string& seed, int& lastPage) {
        items.Add(MakeItem("c1"));
        seed = "ignored";
        lastPage = 2;
        return 1;
    };
    engine->Refresh(0);
    ASSERT_EQ(client.requests.size(), 1u);
    EXPECT_EQ(client.requests[0].feedKey, 77);
    EXPECT_EQ(engine->ForTesting().Feeds()[0].Seed, "");
    EXPECT_EQ(engine->ForTesting().Feeds()[0].Items.GetSize(), 1);
}

TEST_F(RefreshTest, PausesBetweenQueriesOnlyAndNotAfterTheLastFeed) {
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    CLumoraFeed disabled = SearchFeed(1);
    disabled.Flg = 0;
    engine->ForTesting().Feeds().Add(disabled);
    engine->ForTesting().Feeds().Add(SearchFeed(2));
    engine->ForTesting().Feeds().Add(SearchFeed(3));
    engine->ForTesting().Feeds()[3].Page = 2;
    engine->ForTesting().Feeds()[3].LastPage = 2;  // done: no query
    client.onPage = Catalog(1, 3);
    engine->Refresh(0);
    ASSERT_EQ(client.requests.size(), 2u);
    EXPECT_EQ(client.requests[0].at, 0u);
    EXPECT_EQ(client.requests[1].at, 1500u);  // the disabled feed costs no pause
    ASSERT_EQ(clock.sleeps.size(), 2u);       // after feeds 0 and 2; feed 3 asked nothing
    for (auto& s : clock.sleeps) EXPECT_EQ(s.second, 1500u);
}

TEST_F(RefreshTest, ClosingDuringThePauseEndsThePassButStillWritesTheList) {
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    engine->ForTesting().Feeds().Add(SearchFeed(1));
    client.onPage = Catalog(2, 5);
    clock.At(700, [this] { closing.store(1); });
    engine->Refresh(0);
    EXPECT_EQ(client.requests.size(), 1u);
    EXPECT_TRUE(Log().Has("Program closing, refresh interrupted"));
    EXPECT_FALSE(Log().Has("Refresh completed"));
    EXPECT_TRUE(plat::PathExists(Join(folder, "vdt_vd_files.lst")));
}

// An answer that arrives after the host replaced the feed list belongs to a
// feed that no longer exists: it is dropped and counts as nothing.
TEST_F(RefreshTest, AnswerToAReplacedFeedListIsDropped) {
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    engine->ForTesting().Feeds().Add(SearchFeed(1));
    bool replaced = false;
    client.onPage = [&](int page, CItemArray& items, std::string& seed, int& lastPage) {
        if (!replaced) {
            replaced = true;
            CFeedArray other;
            other.Add(SearchFeed(5));
            other.Add(SearchFeed(6));
            engine->ApplyFeeds(other);  // the dialog's OK on the host's thread
        }
        return Catalog(4, 9)(page, items, seed, lastPage);
    };
    engine->Refresh(0);
    EXPECT_TRUE(Log().Has("Refresh 0: feeds changed during the request, answer dropped")) << Log().Dump();
    const CLumoraFeed& f0 = engine->ForTesting().Feeds()[0];
    EXPECT_EQ(f0.Query, "feed5");
    EXPECT_EQ(f0.Page, 0);
    EXPECT_EQ(f0.Retries, 0);
    EXPECT_TRUE(f0.Items.IsEmpty());
    // The pass goes on with the new list: feed 1 is asked and kept.
    ASSERT_EQ(client.requests.size(), 2u);
    EXPECT_EQ(client.requests[1].feedKey, 6);
    EXPECT_EQ(engine->ForTesting().Feeds()[1].Items.GetSize(), 4);
    EXPECT_EQ(engine->ForTesting().Ids().size(), 4u);
}

TEST_F(RefreshTest, ClosingOnEntryDoesNothing) {
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    client.onPage = Catalog(2, 5);
    closing.store(1);
    EXPECT_EQ(engine->Refresh(0), 0);
    EXPECT_EQ(client.pageCalls.load(), 0);
    EXPECT_TRUE(Log().Lines().empty()) << Log().Dump();
}

TEST_F(RefreshTest, CompletedWhenEveryEnabledFeedIsAtItsLastPage) {
    // No feeds at all: completed at once.
    clock.now = 5000;
    engine->Refresh(0);
    EXPECT_TRUE(Log().Has("Refresh completed"));
    EXPECT_DOUBLE_EQ(engine->ForTesting().CacheList().LastTime().m_dt, clock.LocalNow());

    // One feed reaching its last page in this pass, a disabled one not done.
    Log().Clear();
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    engine->ForTesting().Feeds()[0].Page = 1;
    CLumoraFeed off = SearchFeed(1);
    off.Flg = 0;
    engine->ForTesting().Feeds().Add(off);
    client.onPage = Catalog(1, 2);
    clock.now = 9000;
    engine->Refresh(0);
    EXPECT_TRUE(Log().Has("Refresh completed")) << Log().Dump();
    EXPECT_DOUBLE_EQ(engine->ForTesting().CacheList().LastTime().m_dt, clock.LocalNow());

    // A feed still paging: not completed, time kept.
    Log().Clear();
    const double kept = engine->ForTesting().CacheList().LastTime().m_dt;
    engine->ForTesting().Feeds().Add(SearchFeed(2));
    clock.now = 20000;
    engine->Refresh(0);
    EXPECT_FALSE(Log().Has("Refresh completed"));
    EXPECT_DOUBLE_EQ(engine->ForTesting().CacheList().LastTime().m_dt, kept);
}

TEST_F(RefreshTest, TimestampInTheFutureIsReset) {
    engine->ForTesting().CacheList().LastTime().m_dt = clock.dateBase + 2.0;
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    client.onPage = [](int, CItemArray&, std::string&, int&) { return 0; };
    engine->Refresh(0);
    EXPECT_TRUE(Log().Has("Refresh: fixed timestamp"));
    EXPECT_DOUBLE_EQ(engine->ForTesting().CacheList().LastTime().m_dt, kOleDate2000);
}

// ---- RotateFeed -------------------------------------------------------------------
struct RotateCase {
    const char* name;
    int type, sorting, page, lastPage;
    int expectPage, expectLastPage;
    const char* expectSeed;
    const char* expectLine;  // with %d = 0, or empty for none
};
class RotateFeedTable : public EngineTest, public ::testing::WithParamInterface<RotateCase> {};

TEST_P(RotateFeedTable, RestartsPagingByKind) {
    const RotateCase& c = GetParam();
    CLumoraFeed f = SearchFeed(0, c.sorting);
    f.Type = c.type;
    f.Page = c.page;
    f.LastPage = c.lastPage;
    f.Seed = "seed";
    f.Items.Add(MakeItem("pooled1"));
    f.Items.Add(MakeItem("pooled2"));
    engine->ForTesting().Feeds().Add(f);
    engine->ForTesting().CacheList().Records().AddTail(CFileData(Join(folder, "k.jpg"), "cachedId", 0));
    engine->ForTesting().Ids() = {"pooled1", "pooled2", "cachedId", "stale"};
    engine->ForTesting().CacheList().LastTime().m_dt = 45000.0;
    engine->RotateFeed(0);
    const CLumoraFeed& g = engine->ForTesting().Feeds()[0];
    EXPECT_TRUE(g.Items.IsEmpty()) << c.name;
    EXPECT_EQ(g.Page, c.expectPage) << c.name;
    EXPECT_EQ(g.LastPage, c.expectLastPage) << c.name;
    EXPECT_EQ(g.Seed, c.expectSeed) << c.name;
    if (*c.expectLine) {
        EXPECT_TRUE(Log().Has(c.expectLine)) << c.name << "\n" << Log().Dump();
    } else {
        EXPECT_TRUE(Log().LinesStartingWith("RotateFeed").empty()) << c.name;
    }
    // The id set holds what is cached, nothing of the emptied pool.
    EXPECT_EQ(engine->ForTesting().Ids().size(), 1u) << c.name;
    EXPECT_EQ(engine->ForTesting().Ids().count("cachedId"), 1u) << c.name;
    EXPECT_DOUBLE_EQ(engine->ForTesting().CacheList().LastTime().m_dt, kOleDate2000) << c.name;
    EXPECT_TRUE(plat::PathExists(Join(folder, "vdt_vd_paging.lst"))) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, RotateFeedTable,
    ::testing::Values(
        RotateCase{"random search", 0, 0, 5, 5, 0, 0, "", "RotateFeed 0: new paging seed"},
        RotateCase{"collection", 1, 3, 5, 5, 0, 0, "", "RotateFeed 0: new paging seed"},
        RotateCase{"collection still paging", 1, 0, 2, 5, 0, 0, "", "RotateFeed 0: new paging seed"},
        RotateCase{"fixed order at its end", 0, 3, 5, 5, 0, 0, "seed", "RotateFeed 0: restarting pagination"},
        RotateCase{"fixed order beyond its end", 0, 1, 7, 5, 0, 0, "seed",
                   "RotateFeed 0: restarting pagination"},
        RotateCase{"fixed order still paging", 0, 5, 2, 5, 2, 5, "seed", ""},
        RotateCase{"fixed order without last page", 0, 2, 4, 0, 4, 0, "seed", ""}),
    [](const ::testing::TestParamInfo<RotateCase>& info) {
        std::string n = info.param.name;
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

TEST_F(RefreshTest, RotateFeedWithBadIndexRaisesTheInvalidArgumentError) {
    engine->ForTesting().Feeds().Add(SearchFeed(0));
    EXPECT_THROW(engine->RotateFeed(1), CInvalidArgException);
}

}  // namespace
