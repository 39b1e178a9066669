// The host's messages through the exported function, in-process, with the
// fake host as callback.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "engine/engine_seam.h"
#include "plugin/app.h"
#include "support/test_host.h"
#include "common/module_version.h"
#include "common/settings_store.h"
#include "common/version.h"
#include "service/api.h"

namespace {

int32_t Send(uint32_t msg, HostWord p = 0, int32_t a = 0) {
    return vdtPlugInMsgHandler(msg, p, a);
}

class MessagesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CLumoraApp& app = theApp();
        host = &InstallFakeHost();
        app.Enabled = 0;
        app.ImgFolder.clear();
        app.VpropTitle = app.VpropDescr = app.MaxLocal = 0;
        app.ApiKey.clear();
        app.m_changed = 0;
        app.m_hosttype = 0;
        app.m_engine.ForTesting().Feeds().RemoveAll();
        app.m_engine.ForTesting().ShownFiles().RemoveAll();
        // A key stored on this machine comes back after the test.
        savedKey = RegReadString(1, kApiKeyRegPath, kApiKeyValue);
        plat::RegDeleteTreeForTest(1, kApiKeyRegPath);
    }
    void TearDown() override {
        plat::RegDeleteTreeForTest(1, kApiKeyRegPath);
        if (!savedKey.empty()) RegWriteString(1, kApiKeyRegPath, kApiKeyValue, savedKey.c_str());
        RemoveFakeHost();
    }
    size_t HostCalls() const {
        return host->logs.size() + host->notifies.size() + host->reads.size() + host->writes.size();
    }
    FakeHost* host = nullptr;
    std::string savedKey;
};

TEST_F(MessagesTest, QueryAnswers256WhateverTheArguments) {
    for (HostWord p : {HostWord(0), HostWord(1), HostWord(-1)})
        for (int32_t a : {0, 7, -1}) EXPECT_EQ(Send(PIM_QUERY, p, a), 256);
}

TEST_F(MessagesTest, NameCarriesTheProductVersion) {
    char name[64];
    std::memset(name, '#', sizeof name);
    EXPECT_EQ(Send(PIM_GETNAME, reinterpret_cast<HostWord>(name)), 1);
    std::string expected = "Lumora v" + std::to_string(LUMORA_VERSION_MAJOR) + "." +
                           std::to_string(LUMORA_VERSION_MINOR) + "." + std::to_string(LUMORA_VERSION_PATCH);
    EXPECT_STREQ(name, expected.c_str());
    // A host that passes no buffer gets "not done" instead of a crash.
    EXPECT_EQ(Send(PIM_GETNAME, 0), 0);
}

TEST_F(MessagesTest, VersionOfAModuleThatIsNotLoadedIsUnknown) {
    CModuleVersion v;
    EXPECT_FALSE(v.ReadVersionInfo("no-such-module-lumora.dll"));
    CModuleVersion own;
    ASSERT_TRUE(own.ReadVersionInfo(nullptr));
    EXPECT_EQ(own.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(own.ProductVersionMS(), uint32_t(LUMORA_VERSION_MAJOR << 16 | LUMORA_VERSION_MINOR));
    EXPECT_EQ(own.ProductVersionLS(), uint32_t(LUMORA_VERSION_PATCH << 16 | LUMORA_VERSION_BUILD));
}

struct HostKindCase {
    HostWord kind;
    int32_t result;
};

TEST_F(MessagesTest, HostKindIsStoredAndAnsweredWhenKnown) {
    const HostKindCase cases[] = {{0, 0}, {1, 1}, {7, -1}, {-1, -1}, {2, -1}};
    for (const HostKindCase& c : cases) {
        SCOPED_TRACE(c.kind);
        EXPECT_EQ(Send(PIM_SETHOST, c.kind), c.result);
        EXPECT_EQ(theApp().m_hosttype, static_cast<int32_t>(c.kind));
    }
}

struct EnableCase {
    int before;
    HostWord p;
    int32_t a;
    int32_t result;
    int after;
};

TEST_F(MessagesTest, EnableReadsOrSetsWithoutSavingOrMarkingAChange) {
    const EnableCase cases[] = {
        {1, 0, 0, 2, 1},  // query only
        {0, 0, 5, 1, 0},  // query only: a is ignored
        {1, 1, 0, 1, 0},  // disable
        {0, 1, 1, 2, 1},  // enable
        {0, 1, 5, 2, 5},  // any nonzero value is "enabled" and is kept as given
    };
    for (const EnableCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.before) + "/" + std::to_string(c.p) + "/" + std::to_string(c.a));
        theApp().Enabled = c.before;
        theApp().m_changed = 1;
        EXPECT_EQ(Send(PIM_ENABLE, c.p, c.a), c.result);
        EXPECT_EQ(theApp().Enabled, c.after);
        EXPECT_EQ(theApp().m_changed, 1);
    }
    EXPECT_TRUE(host->writes.empty());
}

TEST_F(MessagesTest, UnknownCodesDoNothingAndAnswerZero) {
    theApp().Enabled = 1;
    theApp().m_changed = 1;
    theApp().m_hosttype = 1;
    for (uint32_t code : {0u, 4u, 11u, 12u, 13u, 15u, 27u, 29u, 39u, 41u, 256u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(Send(code, 1, 1), 0);
    }
    EXPECT_EQ(theApp().Enabled, 1);
    EXPECT_EQ(theApp().m_changed, 1);
    EXPECT_EQ(theApp().m_hosttype, 1);
    EXPECT_EQ(HostCalls(), 0u);
}

TEST_F(MessagesTest, LoadOnAnEmptyHostGivesTheDefaults) {
    theApp().m_changed = 1;
    theApp().m_engine.ForTesting().Feeds().SetSize(2);
    EXPECT_EQ(Send(PIM_LOAD), 1);
    CLumoraApp& app = theApp();
    EXPECT_EQ(app.Enabled, 0);
    EXPECT_EQ(app.ImgFolder, "");
    EXPECT_EQ(app.VpropTitle, 0);
    EXPECT_EQ(app.VpropDescr, 0);
    EXPECT_EQ(app.MaxLocal, 100);
    EXPECT_EQ(app.ApiKey, "");
    EXPECT_EQ(app.m_engine.ForTesting().Feeds().GetSize(), 0);
    EXPECT_EQ(Send(PIM_ISCHANGED), 0);
}

TEST_F(MessagesTest, LoadTakesStoredValuesAndTheApiKeyFromTheRegistry) {
    host->Set("LumoraPlugIn", "Enabled", "1");
    host->Set("LumoraPlugIn", "ImgFolder", "C:\\Wallpapers");
    host->Set("LumoraPlugIn", "VpropTitle", "1");
    host->Set("LumoraPlugIn", "VpropDescr", "1");
    host->Set("LumoraPlugIn", "MaxLocal", "250");
    host->Set("LumoraPlugIn", "nFeeds", "1");
    host->Set("LumoraPlugIn", "Feed0_Query", "sunset");
    ASSERT_TRUE(RegWriteString(1, kApiKeyRegPath, kApiKeyValue, "k-123"));

    EXPECT_EQ(Send(PIM_LOAD), 1);
    CLumoraApp& app = theApp();
    EXPECT_EQ(app.Enabled, 1);
    EXPECT_EQ(app.ImgFolder, "C:\\Wallpapers");
    EXPECT_EQ(app.VpropTitle, 1);
    EXPECT_EQ(app.VpropDescr, 1);
    EXPECT_EQ(app.MaxLocal, 250);
    EXPECT_EQ(app.ApiKey, "k-123");
    EXPECT_EQ(app.m_engine.ForTesting().Api().m_apikey, "k-123");
    ASSERT_EQ(app.m_engine.ForTesting().Feeds().GetSize(), 1);
    EXPECT_EQ(app.m_engine.ForTesting().Feeds()[0].Query, "sunset");
    // The key never travels through the host's store.
    for (const auto& r : host->reads) EXPECT_NE(r.key, "ApiKey");
}

TEST_F(MessagesTest, SaveWritesSettingsThenFeedsThenRebuildListAndNeverTheKey) {
    CLumoraApp& app = theApp();
    app.Enabled = 1;
    app.ImgFolder = "D:\\Pics";
    app.VpropTitle = 1;
    app.MaxLocal = 30;
    app.ApiKey = "secret";
    app.m_engine.ForTesting().Feeds().SetSize(1);
    app.m_changed = 1;

    EXPECT_EQ(Send(PIM_SAVE), 1);

    std::vector<std::string> keys = host->WrittenKeys();
    ASSERT_EQ(keys.size(), 5u + 1u + 12u + 1u);
    EXPECT_EQ(std::vector<std::string>(keys.begin(), keys.begin() + 6),
              (std::vector<std::string>{"LumoraPlugIn/Enabled", "LumoraPlugIn/ImgFolder",
                                        "LumoraPlugIn/VpropTitle", "LumoraPlugIn/VpropDescr",
                                        "LumoraPlugIn/MaxLocal", "LumoraPlugIn/nFeeds"}));
    EXPECT_EQ(keys.back(), "Settings/RebuildList");
    EXPECT_EQ(host->store["Settings/RebuildList"], "1");
    EXPECT_EQ(host->store["LumoraPlugIn/ImgFolder"], "D:\\Pics");
    EXPECT_EQ(host->store["LumoraPlugIn/MaxLocal"], "30");
    for (const auto& kv : host->store) EXPECT_EQ(kv.second.find("secret"), std::string::npos) << kv.first;
    EXPECT_EQ(Send(PIM_ISCHANGED), 0);
}

TEST_F(MessagesTest, ChangedFollowsDialogLoadAndSave) {
    EXPECT_EQ(Send(PIM_LOAD), 1);
    EXPECT_EQ(Send(PIM_ISCHANGED), 0);
    theApp().m_changed = 1;  // what the dialog's OK does
    EXPECT_EQ(Send(PIM_ISCHANGED), 1);
    EXPECT_EQ(Send(PIM_SAVE), 1);
    EXPECT_EQ(Send(PIM_ISCHANGED), 0);
}

struct ShownCase {
    const char* name;
    int enabled;
    const char* path;
};

TEST_F(MessagesTest, FileShownIsIgnoredWithoutPathOrWhileDisabled) {
    static const char kEmpty[] = "";
    const ShownCase cases[] = {{"disabled", 0, "C:\\a.jpg"}, {"null", 1, nullptr}, {"empty", 1, kEmpty}};
    for (const ShownCase& c : cases) {
        SCOPED_TRACE(c.name);
        theApp().Enabled = c.enabled;
        EXPECT_EQ(Send(PIM_FILESHOWN, reinterpret_cast<HostWord>(c.path)), 0);
        EXPECT_EQ(theApp().m_engine.ForTesting().ShownFiles().GetCount(), 0);
    }
    theApp().Enabled = 1;
    EXPECT_EQ(Send(PIM_FILESHOWN, reinterpret_cast<HostWord>("C:\\a.jpg")), 0);
    EXPECT_EQ(theApp().m_engine.ForTesting().ShownFiles().GetCount(), 1);
}

TEST_F(MessagesTest, StartWithoutEnabledOrFolderIsIgnored) {
    struct {
        int enabled;
        const char* folder;
    } cases[] = {{0, "C:\\Pics"}, {1, ""}, {0, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        theApp().Enabled = c.enabled;
        theApp().ImgFolder = c.folder;
        g_apiCalls = 5;
        EXPECT_EQ(Send(PIM_START), 0);
        EXPECT_EQ(g_apiCalls, 5u) << "counters are left alone";
    }
    EXPECT_TRUE(host->notifies.empty());
}

TEST_F(MessagesTest, StartWithoutFeedsNotifiesAndClearsTheCountersButStartsNoWorker) {
    theApp().Enabled = 1;
    theApp().ImgFolder = "C:\\Pics";
    theApp().m_closing = 1;
    g_apiCalls = 3;
    g_apiErrors = 2;
    g_downloads = 4;
    g_downloadErrors = 1;
    EXPECT_EQ(Send(PIM_START), 0);
    ASSERT_EQ(host->notifies.size(), 1u);
    EXPECT_EQ(host->notifies[0], std::make_pair(HostWord(44), HostWord(1)));
    EXPECT_EQ(theApp().m_closing, 0);
    EXPECT_EQ(g_apiCalls + g_apiErrors + g_downloads + g_downloadErrors, 0u);
    EXPECT_FALSE(theApp().m_engine.ForTesting().Thread());
}

TEST_F(MessagesTest, StopLogsTheCounters) {
    g_apiCalls = 12;
    g_apiErrors = 1;
    g_downloads = 7;
    g_downloadErrors = 2;
    for (int32_t a : {0, 1}) {
        SCOPED_TRACE(a);
        host->logs.clear();
        EXPECT_EQ(Send(PIM_STOP, 0, a), 0);
        std::vector<std::string> lines;
        for (const auto& l : host->logs)
            if (l.second.rfind("Api Calls", 0) == 0 || l.second.rfind("Downloads", 0) == 0)
                lines.push_back(l.second);
        EXPECT_EQ(lines,
                  (std::vector<std::string>{"Api Calls: 12, Api Errors: 1", "Downloads: 7, Errors: 2"}));
        if (a == 0) {
            EXPECT_EQ(host->logs.size(), 2u) << "a = 0 logs the statistics and nothing else";
        }
    }
}

TEST_F(MessagesTest, BeforeTheCallbackMessagesStillWorkAndCallNothing) {
    RemoveFakeHost();
    theApp().Enabled = 1;
    theApp().ImgFolder = "C:\\Pics";
    EXPECT_EQ(Send(PIM_LOAD), 1);
    EXPECT_EQ(theApp().MaxLocal, 100);
    EXPECT_EQ(theApp().Enabled, 0);
    EXPECT_EQ(Send(PIM_SAVE), 1);
    EXPECT_EQ(Send(PIM_STOP, 0, 0), 0);
    EXPECT_EQ(HostCalls(), 0u);
}

}  // namespace
