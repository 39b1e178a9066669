// The configuration dialogs of the real module, opened through message 5 as
// a host opens them and worked control by control from a second thread.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <json/json.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "harness.h"
#include "common/strings.h"
#include "ui/resource.h"
#include "ui/ui_strings.h"

using namespace uitest;

namespace {

const char kMainCaption[] = "Lumora 1.0.0";  // the version resource says 1.0.0.0
const char kRegKey[] = "Software\\Orvanix\\LumoraPlugin";
const char kWaitCaption[] = "Lumora: please wait";

typedef std::map<std::string, std::string> Store;

struct TestFeed {
    int type = 0;
    int flg = 1;
    std::string query;
    std::string categories = "111";
    std::string purity = "100";
    int sorting = 0;
    int topRange = 3;
    std::string atleast, ratios, username, collId, collName;
};

TestFeed Collection(const char* user, const char* id, const char* label, int flg = 1) {
    TestFeed f;
    f.type = 1;
    f.flg = flg;
    f.username = user;
    f.collId = id;
    f.collName = label;
    return f;
}

Store MakeStore(const std::string& folder, const std::vector<TestFeed>& feeds, int enabled = 1) {
    Store s;
    s["LumoraPlugIn/Enabled"] = std::to_string(enabled);
    s["LumoraPlugIn/ImgFolder"] = folder;
    s["LumoraPlugIn/MaxLocal"] = "100";
    s["LumoraPlugIn/nFeeds"] = std::to_string(feeds.size());
    for (size_t i = 0; i < feeds.size(); ++i) {
        const TestFeed& f = feeds[i];
        const std::string k = "LumoraPlugIn/Feed" + std::to_string(i) + "_";
        s[k + "Type"] = std::to_string(f.type);
        s[k + "Flg"] = std::to_string(f.flg);
        s[k + "Query"] = f.query;
        s[k + "Categories"] = f.categories;
        s[k + "Purity"] = f.purity;
        s[k + "Sorting"] = std::to_string(f.sorting);
        s[k + "TopRange"] = std::to_string(f.topRange);
        s[k + "Atleast"] = f.atleast;
        s[k + "Ratios"] = f.ratios;
        s[k + "Username"] = f.username;
        s[k + "CollId"] = f.collId;
        s[k + "CollName"] = f.collName;
    }
    return s;
}

std::string Feed(int i, const char* field) {
    return "LumoraPlugIn/Feed" + std::to_string(i) + "_" + field;
}

void SetRegistryKey(const char* value) {
    HKEY key = nullptr;
    RegCreateKeyA(HKEY_CURRENT_USER, kRegKey, &key);
    if (value)
        RegSetValueExA(key, "ApiKey", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                       static_cast<DWORD>(strlen(value) + 1));
    else
        RegDeleteValueA(key, "ApiKey");
    RegCloseKey(key);
}

std::string RegistryKey() {
    char buf[512] = {0};
    DWORD size = sizeof buf - 1, type = 0;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kRegKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return "<no key>";
    LONG rc = RegQueryValueExA(key, "ApiKey", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? std::string(buf) : "<no value>";
}

// A cache folder as a finished run leaves it: images in a sub-folder, the
// cache list naming them and the paging state of two feeds.
std::vector<std::string> MakeCache(const std::string& folder, int images) {
    CreateDirectoryA((folder + "\\sfw").c_str(), nullptr);
    std::vector<std::string> paths;
    std::string list = "[Veduta Lumora List v3]\r\n" + std::to_string(images) + "\r\n0\r\n1/1/2000\r\n";
    for (int i = 0; i < images; ++i) {
        std::string id = "img" + std::to_string(i);
        std::string path = folder + "\\sfw\\" + id + ".jpg";
        WriteFile(path, "jpeg bytes");
        list += id + "\r\n" + path + "\r\n0\r\n";
        paths.push_back(path);
    }
    WriteFile(folder + "\\vdt_vd_files.lst", list);
    WriteFile(folder + "\\vdt_vd_paging.lst",
              "[Lumora Paging v1]\r\n2\r\nab12cd\r\n3\r\n40\r\n\r\n0\r\n0\r\n");
    return paths;
}

std::vector<std::string> ListRows(HWND dlg, int id, int column = 0) {
    std::vector<std::string> rows;
    for (int i = 0; i < ListCount(dlg, id); ++i) rows.push_back(ListText(dlg, id, i, column));
    return rows;
}

std::vector<bool> ListChecks(HWND dlg) {
    std::vector<bool> checks;
    for (int i = 0; i < ListCount(dlg, IDC_FEEDLIST); ++i)
        checks.push_back(ListChecked(dlg, IDC_FEEDLIST, i));
    return checks;
}

bool FocusIsSelectedEdit(HWND dlg, int id) {
    HWND edit = GetDlgItem(dlg, id);
    for (int i = 0; i < 500; ++i) {
        if (FocusedControl() == edit && WholeTextSelected(edit)) return true;
        Sleep(20);
    }
    return false;
}

BOOL CALLBACK CancelWindow(HWND w, LPARAM) {
    if (IsWindowVisible(w)) PostMessageA(w, WM_COMMAND, IDCANCEL, 0);
    return TRUE;
}

class Dialogs : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetService();
        SetRegistryKey(nullptr);
    }
    void TearDown() override {
        // A failed test must not leave its dialogs up for the next one.
        if (m_result.valid()) {
            for (int i = 0;
                 i < 10 && m_result.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready;
                 ++i) {
                EnumThreadWindows(TheHost().ThreadId(), CancelWindow, 0);
                Sleep(200);
            }
            m_result.wait_for(std::chrono::seconds(10));
        }
        SetFaults("[]");
    }

    // Loads the store like a host and opens message 5; the main dialog.
    HWND Open(const Store& store) {
        TheHost().SetStore(store);
        TheHost().LoadSettings();
        return Reopen();
    }
    // Opens message 5 again without reloading.
    HWND Reopen() {
        m_result = TheHost().Post(5, 0);
        HWND dlg = WaitDialog(kMainCaption);
        EXPECT_TRUE(dlg != nullptr) << "the main dialog did not open";
        return dlg;
    }
    // Presses OK or Cancel and returns message 5's result (-99: still open).
    int32_t Close(HWND dlg, int button) {
        PostClick(dlg, button);
        if (m_result.wait_for(std::chrono::seconds(30)) != std::future_status::ready) return -99;
        return m_result.get();
    }
    // Opens a dialog from a button of the main dialog.
    HWND OpenFrom(HWND dlg, int button, const char* caption) {
        PostClick(dlg, button);
        HWND inner = WaitDialog(caption, dlg);
        EXPECT_TRUE(inner != nullptr) << caption << " did not open";
        return inner;
    }
    // Presses a button of an inner dialog and waits until it has closed.
    static void CloseInner(HWND inner, int button) {
        PostClick(inner, button);
        EXPECT_TRUE(WaitGone(inner));
    }

    std::string m_folder;
    std::future<int32_t> m_result;
};

// ---- main dialog ------------------------------------------------------------

TEST_F(Dialogs, MainDialogShowsSettingsAndOneRowPerFeed) {
    const std::string folder = TempFolder("show");
    TestFeed top;
    top.categories = "110";
    top.sorting = 5;
    top.topRange = 3;
    top.atleast = "1920x1080";
    top.flg = 0x10000;
    TestFeed odd;
    odd.type = 2;
    SetRegistryKey("testkey123");
    HWND dlg = Open(MakeStore(folder, {TestFeed(), top, Collection("demo", "27", "", 0x10001), odd}));
    ASSERT_TRUE(dlg);

    EXPECT_TRUE(Checked(dlg, IDC_ENABLED));
    EXPECT_EQ(GetText(dlg, IDC_FOLDER), folder);
    EXPECT_EQ(GetText(dlg, IDC_APIKEY), "testkey123");
    EXPECT_EQ(ListRows(dlg, IDC_FEEDLIST),
              (std::vector<std::string>{"Search: (all) - Gen+Anime+People, SFW, Random",
                                        "Search: (all) - Gen+Anime, SFW, Top 1M, 1920x1080",
                                        "Collection: demo/27", ""}));
    EXPECT_EQ(ListChecks(dlg), (std::vector<bool>{true, false, true, true}));

    char heading[64] = {0};
    LVCOLUMNA col = {};
    col.mask = LVCF_TEXT;
    col.pszText = heading;
    col.cchTextMax = sizeof heading;
    SendMessageA(GetDlgItem(dlg, IDC_FEEDLIST), LVM_GETCOLUMNA, 0, reinterpret_cast<LPARAM>(&col));
    EXPECT_STREQ(heading, "Feed");
    DWORD ex =
        static_cast<DWORD>(SendMessageA(GetDlgItem(dlg, IDC_FEEDLIST), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    EXPECT_EQ(ex, 0x424u);

    // The greeting names the service's host on its first line.
    std::string greeting;
    for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        char text[512] = {0};
        GetWindowTextA(c, text, sizeof text);
        if (std::string(text).rfind("The Lumora PlugIn", 0) == 0) greeting = text;
    }
    const std::string host = ServiceUrl().substr(7, ServiceUrl().rfind(':') - 7);  // http://HOST:PORT
    EXPECT_EQ(greeting,
              "The Lumora PlugIn allows you to download wallpapers from " + host +
                  "\r\nFor best results get the api key from your account settings and enter it in the "
                  "API Key field");
    Screenshot(dlg, "main");

    EXPECT_EQ(Close(dlg, IDCANCEL), 0);
    EXPECT_EQ(TheHost().Send(8), 0);
}

TEST_F(Dialogs, EnabledBoxSwitchesTheSettingControls) {
    const std::string folder = TempFolder("enable");
    HWND dlg = Open(MakeStore(folder, {TestFeed()}, /*enabled=*/0));
    ASSERT_TRUE(dlg);
    const int following[] = {IDC_FOLDER_LABEL, IDC_FOLDER, IDC_BROWSE, IDC_FEEDLIST, IDC_SETTINGS,
                             IDC_ADD,          IDC_EDIT,   IDC_DELETE, IDC_APIKEY};
    const int always[] = {IDC_LOCALCACHE, IDOK, IDCANCEL, IDC_HELPBUTTON, IDC_ENABLED};
    for (bool on : {false, true, false}) {
        if (on != Checked(dlg, IDC_ENABLED)) Click(dlg, IDC_ENABLED);
        ASSERT_EQ(Checked(dlg, IDC_ENABLED), on);
        for (int id : following) EXPECT_EQ(Enabled(dlg, id), on) << id << " with the box " << on;
        for (int id : always) EXPECT_TRUE(Enabled(dlg, id)) << id;
    }
    Screenshot(dlg, "main_disabled");
    // The folder is checked even for a disabled plug-in.
    SetText(dlg, IDC_FOLDER, "");
    PostClick(dlg, IDOK);
    EXPECT_EQ(AnswerMessageBox(dlg), IDS_FOLDER_EMPTY_T);
    EXPECT_TRUE(IsWindowVisible(dlg));
    EXPECT_EQ(Close(dlg, IDCANCEL), 0);
}

TEST_F(Dialogs, OkTakesEveryValueBack) {
    const std::string a = TempFolder("values-a"), b = TempFolder("values-b");
    HWND dlg = Open(MakeStore(a, {TestFeed()}));
    ASSERT_TRUE(dlg);
    Click(dlg, IDC_ENABLED);
    SetText(dlg, IDC_FOLDER, b);
    SetText(dlg, IDC_APIKEY, "\t abc  ");

    HWND settings = OpenFrom(dlg, IDC_SETTINGS, "Settings");
    ASSERT_TRUE(settings);
    EXPECT_FALSE(Checked(settings, IDC_VPROP_TITLE));
    EXPECT_FALSE(Checked(settings, IDC_VPROP_DESCR));
    EXPECT_EQ(GetText(settings, IDC_CACHESIZE), "100");
    Screenshot(settings, "settings");
    Click(settings, IDC_VPROP_TITLE);
    Click(settings, IDC_VPROP_DESCR);
    SetText(settings, IDC_CACHESIZE, " 250 ");
    CloseInner(settings, IDOK);

    EXPECT_EQ(Close(dlg, IDOK), 1);
    EXPECT_EQ(TheHost().Send(8), 1);
    TheHost().Send(6);
    Store s = TheHost().Store();
    EXPECT_EQ(s["LumoraPlugIn/Enabled"], "0");
    EXPECT_EQ(s["LumoraPlugIn/ImgFolder"], b);
    EXPECT_EQ(s["LumoraPlugIn/VpropTitle"], "1");
    EXPECT_EQ(s["LumoraPlugIn/VpropDescr"], "1");
    EXPECT_EQ(s["LumoraPlugIn/MaxLocal"], "250");
    EXPECT_EQ(RegistryKey(), "abc");
    for (const auto& kv : s) EXPECT_EQ(kv.second.find("abc"), std::string::npos) << kv.first;
    EXPECT_EQ(TheHost().Send(8), 0);

    // The next run of the dialog shows what was kept.
    dlg = Reopen();
    ASSERT_TRUE(dlg);
    EXPECT_EQ(GetText(dlg, IDC_APIKEY), "abc");
    settings = OpenFrom(dlg, IDC_SETTINGS, "Settings");
    ASSERT_TRUE(settings);
    EXPECT_TRUE(Checked(settings, IDC_VPROP_TITLE));
    EXPECT_TRUE(Checked(settings, IDC_VPROP_DESCR));
    EXPECT_EQ(GetText(settings, IDC_CACHESIZE), "250");
    CloseInner(settings, IDCANCEL);
    EXPECT_EQ(Close(dlg, IDCANCEL), 0);
}

TEST_F(Dialogs, SettingsCacheSizeRules) {
    HWND dlg = Open(MakeStore(TempFolder("cachesize"), {}));
    ASSERT_TRUE(dlg);
    const std::string range = "Enter an integer between 5 and 9999999.";
    struct {
        const char* text;
        std::string message;  // empty: accepted
        const char* shown;    // what the reopened dialog shows after acceptance
    } cases[] = {
        {"4", range, ""},
        {"10000000", range, ""},
        {"12a", IDS_PROMPT_POSITIVE_T, ""},
        {"-3", IDS_PROMPT_POSITIVE_T, ""},
        {"", IDS_PROMPT_POSITIVE_T, ""},
        {" 42 ", "", "42"},
        {"5", "", "5"},
        {"9999999", "", "9999999"},
    };
    for (const auto& c : cases) {
        HWND settings = OpenFrom(dlg, IDC_SETTINGS, "Settings");
        ASSERT_TRUE(settings);
        SetText(settings, IDC_CACHESIZE, c.text);
        PostClick(settings, IDOK);
        if (!c.message.empty()) {
            EXPECT_EQ(AnswerMessageBox(settings), c.message) << '"' << c.text << '"';
            EXPECT_TRUE(FocusIsSelectedEdit(settings, IDC_CACHESIZE)) << '"' << c.text << '"';
            EXPECT_TRUE(IsWindowVisible(settings));
            CloseInner(settings, IDCANCEL);
        } else {
            EXPECT_TRUE(WaitGone(settings)) << '"' << c.text << '"';
            settings = OpenFrom(dlg, IDC_SETTINGS, "Settings");
            ASSERT_TRUE(settings);
            EXPECT_EQ(GetText(settings, IDC_CACHESIZE), c.shown);
            CloseInner(settings, IDCANCEL);
        }
    }
    EXPECT_EQ(Close(dlg, IDCANCEL), 0);
}

TEST_F(Dialogs, CancelChangesNothing) {
    const std::string folder = TempFolder("cancel");
    TestFeed second;
    second.query = "second";
    const Store before = MakeStore(folder, {TestFeed(), second});
    SetRegistryKey("kept");
    HWND dlg = Open(before);
    ASSERT_TRUE(dlg);

    SelectListRow(dlg, IDC_FEEDLIST, 0);
    PostClick(dlg, IDC_DELETE);  // no question: the row goes at once
    for (int i = 0; i < 100 && ListCount(dlg, IDC_FEEDLIST) != 1; ++i) Sleep(20);
    EXPECT_EQ(FindDialog("Lumora", dlg), nullptr);
    EXPECT_EQ(ListRows(dlg, IDC_FEEDLIST),
              std::vector<std::string>{"Search: second - Gen+Anime+People, SFW, Random"});
    SetListChecked(dlg, IDC_FEEDLIST, 0, false);
    Click(dlg, IDC_ENABLED);
    SetText(dlg, IDC_FOLDER, "C:\\");
    HWND settings = OpenFrom(dlg, IDC_SETTINGS, "Settings");
    ASSERT_TRUE(settings);
    SetText(settings, IDC_CACHESIZE, "50");
    CloseInner(settings, IDOK);

    EXPECT_EQ(Close(dlg, IDCANCEL), 0);
    EXPECT_EQ(TheHost().Send(8), 0);
    TheHost().Send(6);
    Store after = TheHost().Store();
    for (const auto& kv : before) EXPECT_EQ(after[kv.first], kv.second) << kv.first;
    EXPECT_EQ(RegistryKey(), "kept");
}

// ---- feed list --------------------------------------------------------------

TEST_F(Dialogs, AddOpensTheEditorWithDefaultsAndAppendsACheckedFeed) {
    const std::string folder = TempFolder("add");
    HWND dlg = Open(MakeStore(folder, {TestFeed()}));
    ASSERT_TRUE(dlg);
    // A check box changed in the list returns to its stored state when the list is refilled.
    SetListChecked(dlg, IDC_FEEDLIST, 0, false);

    HWND ed = OpenFrom(dlg, IDC_ADD, "Feed Settings");
    ASSERT_TRUE(ed);
    EXPECT_TRUE(Checked(ed, IDC_SEARCH));
    EXPECT_FALSE(Checked(ed, IDC_COLLECTION));
    const int boxes[] = {IDC_GENERAL, IDC_ANIME, IDC_PEOPLE, IDC_SFW, IDC_SKETCHY, IDC_NSFW};
    const bool expected[] = {true, true, true, true, false, false};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(Checked(ed, boxes[k]), expected[k]) << boxes[k];
    EXPECT_EQ(ComboItems(ed, IDC_SORTING), (std::vector<std::string>{"Random", "Date Added", "Relevance",
                                                                     "Views", "Favorites", "Top List"}));
    EXPECT_EQ(ComboItems(ed, IDC_TOPRANGE), (std::vector<std::string>{"1 Day", "3 Days", "1 Week", "1 Month",
                                                                      "3 Months", "6 Months", "1 Year"}));
    EXPECT_EQ(ComboSelection(ed, IDC_SORTING), 0);
    EXPECT_EQ(ComboSelection(ed, IDC_TOPRANGE), 3);
    EXPECT_TRUE(ComboItems(ed, IDC_COLLLIST).empty());
    for (int id : {IDC_QUERY, IDC_GENERAL, IDC_SFW, IDC_SORTING, IDC_ATLEAST, IDC_RATIOS})
        EXPECT_TRUE(Enabled(ed, id)) << id;
    // No API key: NSFW is off limits; Top Range waits for the top list.
    for (int id : {IDC_NSFW, IDC_TOPRANGE, IDC_USERNAME, IDC_COLLLIST, IDC_LOAD})
        EXPECT_FALSE(Enabled(ed, id)) << id;
    Screenshot(ed, "feed_search");

    SetText(ed, IDC_QUERY, "forest");
    SetText(ed, IDC_ATLEAST, "1280x720");
    CloseInner(ed, IDOK);
    EXPECT_EQ(ListRows(dlg, IDC_FEEDLIST),
              (std::vector<std::string>{"Search: (all) - Gen+Anime+People, SFW, Random",
                                        "Search: forest - Gen+Anime+People, SFW, Random, 1280x720"}));
    EXPECT_EQ(ListChecks(dlg), (std::vector<bool>{true, true}));

    EXPECT_EQ(Close(dlg, IDOK), 1);
    TheHost().Send(6);
    Store s = TheHost().Store();
    EXPECT_EQ(s["LumoraPlugIn/nFeeds"], "2");
    EXPECT_EQ(s[Feed(1, "Query")], "forest");
    EXPECT_EQ(s[Feed(1, "Atleast")], "1280x720");
    EXPECT_EQ(s[Feed(1, "Flg")], "1");
    EXPECT_EQ(s[Feed(0, "Flg")], "1");
}

TEST_F(Dialogs, EditAndDeleteWorkOnTheSelectedRowOnly) {
    const std::string folder = TempFolder("select");
    TestFeed a, b;
    a.query = "first";
    b.query = "second";
    HWND dlg = Open(MakeStore(folder, {a, b}));
    ASSERT_TRUE(dlg);

    for (int button : {IDC_EDIT, IDC_DELETE}) {
        PostClick(dlg, button);
        EXPECT_EQ(AnswerMessageBox(dlg), IDS_NO_SELECTION_T) << button;
    }
    // A double click below the last row opens nothing.
    PostListDoubleClick(dlg, IDC_FEEDLIST, -1);
    PostClick(dlg, IDC_EDIT);
    EXPECT_EQ(AnswerMessageBox(dlg), IDS_NO_SELECTION_T);
    EXPECT_EQ(FindDialog("Feed Settings", dlg), nullptr);

    // A double click on a row edits that row.
    SelectListRow(dlg, IDC_FEEDLIST, 1);
    PostListDoubleClick(dlg, IDC_FEEDLIST, 1);
    HWND ed = WaitDialog("Feed Settings", dlg);
    ASSERT_TRUE(ed);
    EXPECT_EQ(GetText(ed, IDC_QUERY), "second");
    SetText(ed, IDC_QUERY, "changed but cancelled");
    CloseInner(ed, IDCANCEL);
    EXPECT_EQ(ListText(dlg, IDC_FEEDLIST, 1), "Search: second - Gen+Anime+People, SFW, Random");

    // Edit takes the row's current check box into the edited feed.
    SetListChecked(dlg, IDC_FEEDLIST, 0, false);
    SelectListRow(dlg, IDC_FEEDLIST, 0);
    ed = OpenFrom(dlg, IDC_EDIT, "Feed Settings");
    ASSERT_TRUE(ed);
    EXPECT_EQ(GetText(ed, IDC_QUERY), "first");
    SetText(ed, IDC_QUERY, "first edited");
    CloseInner(ed, IDOK);
    EXPECT_EQ(ListText(dlg, IDC_FEEDLIST, 0), "Search: first edited - Gen+Anime+People, SFW, Random");
    EXPECT_EQ(ListChecks(dlg), (std::vector<bool>{false, true}));

    SelectListRow(dlg, IDC_FEEDLIST, 1);
    PostClick(dlg, IDC_DELETE);
    for (int i = 0; i < 100 && ListCount(dlg, IDC_FEEDLIST) != 1; ++i) Sleep(20);
    EXPECT_EQ(FindDialog("Lumora", dlg), nullptr);  // no question
    EXPECT_EQ(ListRows(dlg, IDC_FEEDLIST),
              std::vector<std::string>{"Search: first edited - Gen+Anime+People, SFW, Random"});

    EXPECT_EQ(Close(dlg, IDOK), 1);
    TheHost().Send(6);
    Store s = TheHost().Store();
    EXPECT_EQ(s["LumoraPlugIn/nFeeds"], "1");
    EXPECT_EQ(s[Feed(0, "Query")], "first edited");
    EXPECT_EQ(s[Feed(0, "Flg")], "0");
}

// ---- feed editor ------------------------------------------------------------

TEST_F(Dialogs, EditorShowsACollectionFeedAndKeepsItWithoutLoad) {
    SetRegistryKey("testkey123");
    HWND dlg = Open(MakeStore(TempFolder("coll"), {Collection("demo", "27", "Nature")}));
    ASSERT_TRUE(dlg);
    SelectListRow(dlg, IDC_FEEDLIST, 0);
    HWND ed = OpenFrom(dlg, IDC_EDIT, "Feed Settings");
    ASSERT_TRUE(ed);
    EXPECT_TRUE(Checked(ed, IDC_COLLECTION));
    EXPECT_FALSE(Checked(ed, IDC_SEARCH));
    EXPECT_EQ(GetText(ed, IDC_USERNAME), "demo");
    EXPECT_EQ(ComboItems(ed, IDC_COLLLIST), std::vector<std::string>{"Nature (27)"});
    EXPECT_EQ(ComboSelection(ed, IDC_COLLLIST), 0);
    for (int id : {IDC_QUERY, IDC_GENERAL, IDC_ANIME, IDC_PEOPLE, IDC_SFW, IDC_SKETCHY, IDC_NSFW, IDC_SORTING,
                   IDC_TOPRANGE, IDC_ATLEAST, IDC_RATIOS})
        EXPECT_FALSE(Enabled(ed, id)) << id;
    for (int id : {IDC_USERNAME, IDC_COLLLIST, IDC_LOAD}) EXPECT_TRUE(Enabled(ed, id)) << id;
    Screenshot(ed, "feed_collection");
    CloseInner(ed, IDOK);
    EXPECT_EQ(ListText(dlg, IDC_FEEDLIST, 0), "Collection: demo/Nature");
    EXPECT_EQ(Close(dlg, IDOK), 1);
    TheHost().Send(6);
    Store s = TheHost().Store();
    EXPECT_EQ(s[Feed(0, "Type")], "1");
    EXPECT_EQ(s[Feed(0, "CollId")], "27");
    EXPECT_EQ(s[Feed(0, "CollName")], "Nature");
    EXPECT_EQ(s[Feed(0, "Username")], "demo");
}

TEST_F(Dialogs, EditorEnablesFollowTypeSortingAndKey) {
    SetRegistryKey("testkey123");
    HWND dlg = Open(MakeStore(TempFolder("enables"), {}));
    ASSERT_TRUE(dlg);
    HWND ed = OpenFrom(dlg, IDC_ADD, "Feed Settings");
    ASSERT_TRUE(ed);
    EXPECT_TRUE(Enabled(ed, IDC_NSFW));  // a key is entered

    struct {
        int sorting;
        bool topRange;
    } sortings[] = {{5, true}, {3, false}, {0, false}, {5, true}};
    for (const auto& c : sortings) {
        SelectCombo(ed, IDC_SORTING, c.sorting);
        EXPECT_EQ(Enabled(ed, IDC_TOPRANGE), c.topRange) << c.sorting;
    }
    SelectCombo(ed, IDC_TOPRANGE, 6);
    SelectCombo(ed, IDC_SORTING, 3);  // disables Top Range; its choice stays
    EXPECT_FALSE(Enabled(ed, IDC_TOPRANGE));
    EXPECT_EQ(ComboSelection(ed, IDC_TOPRANGE), 6);

    Click(ed, IDC_COLLECTION);
    for (int id : {IDC_QUERY, IDC_NSFW, IDC_SORTING, IDC_TOPRANGE, IDC_RATIOS})
        EXPECT_FALSE(Enabled(ed, id)) << id;
    for (int id : {IDC_USERNAME, IDC_COLLLIST, IDC_LOAD}) EXPECT_TRUE(Enabled(ed, id)) << id;
    Click(ed, IDC_SEARCH);
    for (int id : {IDC_QUERY, IDC_NSFW, IDC_SORTING, IDC_RATIOS}) EXPECT_TRUE(Enabled(ed, id)) << id;
    for (int id : {IDC_TOPRANGE, IDC_USERNAME, IDC_COLLLIST, IDC_LOAD}) EXPECT_FALSE(Enabled(ed, id)) << id;

    CloseInner(ed, IDOK);
    EXPECT_EQ(Close(dlg, IDOK), 1);
    TheHost().Send(6);
    Store s = TheHost().Store();
    EXPECT_EQ(s[Feed(0, "Sorting")], "3");
    EXPECT_EQ(s[Feed(0, "TopRange")], "6");
}

TEST_F(Dialogs, NsfwWithoutKeyKeepsItsMarkAndIsSavedBack) {
    SetRegistryKey("   ");  // blanks only: no key
    TestFeed f;
    f.purity = "101";
    HWND dlg = Open(MakeStore(TempFolder("nsfw"), {f}));
    ASSERT_TRUE(dlg);
    SelectListRow(dlg, IDC_FEEDLIST, 0);
    HWND ed = OpenFrom(dlg, IDC_EDIT, "Feed Settings");
    ASSERT_TRUE(ed);
    EXPECT_TRUE(Checked(ed, IDC_NSFW));
    EXPECT_FALSE(Enabled(ed, IDC_NSFW));
    CloseInner(ed, IDOK);
    EXPECT_EQ(Close(dlg, IDOK), 1);
    TheHost().Send(6);
    EXPECT_EQ(TheHost().Store()[Feed(0, "Purity")], "101");
}

TEST_F(Dialogs, EditorRulesKeepTheEditorOpen) {
    HWND dlg = Open(MakeStore(TempFolder("rules"), {}));
    ASSERT_TRUE(dlg);
    HWND ed = OpenFrom(dlg, IDC_ADD, "Feed Settings");
    ASSERT_TRUE(ed);

    struct Step {
        std::vector<int> toggle;  // check boxes or radio buttons clicked first
        const char* username;     // null: left alone
        int button;
        const char* message;
        int focus;  // 0: not checked
    } steps[] = {
        {{IDC_GENERAL, IDC_ANIME, IDC_PEOPLE}, nullptr, IDOK, IDS_NEED_CATEGORY_T, 0},
        {{}, nullptr, IDC_CHECK, IDS_NEED_CATEGORY_T, 0},
        {{IDC_PEOPLE, IDC_SFW}, nullptr, IDOK, IDS_NEED_PURITY_T, 0},
        {{}, nullptr, IDC_CHECK, IDS_NEED_PURITY_T, 0},
        {{IDC_SKETCHY, IDC_COLLECTION}, "", IDOK, IDS_NEED_USERNAME_T, IDC_USERNAME},
        // Blanks are no user name either.
        {{}, "   ", IDOK, IDS_NEED_USERNAME_T, IDC_USERNAME},
        {{}, "demo", IDOK, IDS_NEED_COLLECTION_T, IDC_USERNAME},
        {{}, "   ", IDC_LOAD, IDS_NEED_USERNAME_FIRST_T, 0},
    };
    for (const Step& s : steps) {
        for (int id : s.toggle) Click(ed, id);
        if (s.username) SetText(ed, IDC_USERNAME, s.username);
        PostClick(ed, s.button);
        EXPECT_EQ(AnswerMessageBox(ed), s.message) << s.button;
        if (s.focus) {
            EXPECT_TRUE(FocusIsSelectedEdit(ed, s.focus)) << s.message;
        }
        EXPECT_TRUE(IsWindowVisible(ed));
    }
    // Neither Check nor Load asked the service anything.
    EXPECT_TRUE(ServiceRequests().empty());
    CloseInner(ed, IDCANCEL);
    EXPECT_EQ(ListCount(dlg, IDC_FEEDLIST), 0);
    EXPECT_EQ(Close(dlg, IDCANCEL), 0);
}

TEST_F(Dialogs, CheckReportsTheServiceTotalOrItsError) {
    HWND dlg = Open(MakeStore(TempFolder("check"), {}));
    ASSERT_TRUE(dlg);
    // The editor gets the key as typed, trimmed: the service refuses any other
    // key than its own with 401, and a key makes NSFW available.
    SetText(dlg, IDC_APIKEY, "  testkey123 \t");
    HWND ed = OpenFrom(dlg, IDC_ADD, "Feed Settings");
    ASSERT_TRUE(ed);
    EXPECT_TRUE(Enabled(ed, IDC_NSFW));
    SetText(ed, IDC_QUERY, "");
    SelectCombo(ed, IDC_SORTING, 1);

    PostClick(ed, IDC_CHECK);
    const std::string answer = AnswerMessageBox(ed);
    // The total is the one the service gives for the request the editor sent.
    std::vector<std::string> asked = ServiceRequests();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].find("/api/v1/search?"), 0u) << asked[0];
    Json::Value page;
    ASSERT_TRUE(Json::Reader().parse(Http("GET", ServiceUrl() + asked[0]).body, page));
    const int total = page["meta"]["total"].asInt();
    EXPECT_GT(total, 0);
    EXPECT_EQ(answer,
              "The query executed successfully and returned a total of " + std::to_string(total) + " photos");

    struct {
        const char* rule;
        const char* message;  // null: any text
    } failures[] = {
        {R"([{"match": "/api/v1/search", "kind": "status", "status": 404}])", "QueryServer: HTTP Error 404"},
        {R"([{"match": "/api/v1/search", "kind": "status", "status": 500}])", "QueryServer: HTTP Error 500"},
        {R"([{"match": "/api/v1/search", "kind": "invalid_json"}])", "JSON parse error"},
        {R"([{"match": "/api/v1/search", "kind": "empty"}])", IDS_QS_EMPTY_ANSWER_T},
        {R"([{"match": "/api/v1/search", "kind": "wrong_types"}])", nullptr},
        {R"([{"match": "/api/v1/search", "kind": "wrong_types", "set": {"meta.total": {"a": 1}}}])", nullptr},
    };
    for (const auto& f : failures) {
        SetFaults(f.rule);
        PostClick(ed, IDC_CHECK);
        const std::string text = AnswerMessageBox(ed);
        if (f.message)
            EXPECT_EQ(text, f.message) << f.rule;
        else
            EXPECT_TRUE(!text.empty() && text != "<no message box>") << f.rule;
        EXPECT_TRUE(IsWindowVisible(ed)) << f.rule;
    }
    // Still working after the bad answers.
    SetFaults("[]");
    PostClick(ed, IDC_CHECK);
    EXPECT_EQ(AnswerMessageBox(ed), answer);
    CloseInner(ed, IDCANCEL);
    EXPECT_EQ(Close(dlg, IDCANCEL), 0);
}

TEST_F(Dialogs, LoadListsTheUsersPublicCollections) {
    HWND dlg = Open(MakeStore(TempFolder("load"), {}));
    ASSERT_TRUE(dlg);
    HWND ed = OpenFrom(dlg, IDC_ADD, "Feed Settings");
    ASSERT_TRUE(ed);
    Click(ed, IDC_COLLECTION);

    // The service's own list, as the editor should show it.
    Json::Value colls;
    ASSERT_TRUE(Json::Reader().parse(Http("GET", ServiceUrl() + "/api/v1/collections/demo").body, colls));
    std::vector<std::string> expected;
    for (const Json::Value& c : colls["data"])
        expected.push_back(c["label"].asString() + " (" + std::to_string(c["count"].asInt()) +
                           " wallpapers)");
    ASSERT_GE(expected.size(), 2u);
    ResetService();

    SetText(ed, IDC_USERNAME, "  demo\t");
    Click(ed, IDC_LOAD);
    EXPECT_EQ(ComboItems(ed, IDC_COLLLIST), expected);
    EXPECT_EQ(ComboSelection(ed, IDC_COLLLIST), 0);
    std::vector<std::string> asked = ServiceRequests();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].substr(0, asked[0].find('?')), "/api/v1/collections/demo");  // trimmed

    struct {
        const char* user;
        const char* rule;
        const char* message;  // null: any text
    } failures[] = {
        {"empty", "[]", IDS_NO_COLLECTIONS_T},
        {"nobody", "[]", "QueryServer: HTTP Error 404"},
        {"demo", R"([{"match": "/api/v1/collections", "kind": "invalid_json"}])", "JSON parse error"},
        {"demo", R"([{"match": "/api/v1/collections", "kind": "wrong_types", "set": {"data.1.id": "abc"}}])",
         nullptr},
        {"demo",
         R"([{"match": "/api/v1/collections", "kind": "wrong_types", "set": {"data.0.label": [1, 2]}}])",
         nullptr},
    };
    for (const auto& f : failures) {
        SetFaults(f.rule);
        SetText(ed, IDC_USERNAME, f.user);
        PostClick(ed, IDC_LOAD);
        const std::string text = AnswerMessageBox(ed);
        if (f.message)
            EXPECT_EQ(text, f.message) << f.user << " " << f.rule;
        else
            EXPECT_TRUE(!text.empty() && text != "<no message box>") << f.rule;
        EXPECT_TRUE(ComboItems(ed, IDC_COLLLIST).empty()) << f.user << " " << f.rule;
        EXPECT_TRUE(IsWindowVisible(ed));
    }
    // A new feed without a collection cannot be kept.
    SetFaults("[]");
    SetText(ed, IDC_USERNAME, "empty");
    PostClick(ed, IDOK);
    EXPECT_EQ(AnswerMessageBox(ed), IDS_NEED_COLLECTION_T);

    SetText(ed, IDC_USERNAME, "demo");
    Click(ed, IDC_LOAD);
    SelectCombo(ed, IDC_COLLLIST, 1);
    CloseInner(ed, IDOK);
    const std::string label = colls["data"][1]["label"].asString();
    EXPECT_EQ(ListRows(dlg, IDC_FEEDLIST), std::vector<std::string>{"Collection: demo/" + label});
    EXPECT_EQ(Close(dlg, IDOK), 1);
    TheHost().Send(6);
    Store s = TheHost().Store();
    EXPECT_EQ(s[Feed(0, "CollId")], std::to_string(colls["data"][1]["id"].asInt()));
    EXPECT_EQ(s[Feed(0, "CollName")], label);
}

// ---- Local Cache and the cache on OK ------------------------------------

TEST_F(Dialogs, LocalCacheShowsAndCleansTheTypedFolder) {
    const std::string stored = TempFolder("cache-stored"), typed = TempFolder("cache-typed");
    const std::vector<std::string> storedImages = MakeCache(stored, 1);
    const std::vector<std::string> typedImages = MakeCache(typed, 2);
    HWND dlg = Open(MakeStore(stored, {TestFeed(), TestFeed()}));
    ASSERT_TRUE(dlg);
    SetText(dlg, IDC_FOLDER, typed);  // typed, not confirmed
    HWND cache = OpenFrom(dlg, IDC_LOCALCACHE, "Local Cache");
    ASSERT_TRUE(cache);
    const std::vector<std::string> names = {
        "Synchronization status:", "Cached Files:", "Feeds Status:", "Current Page:", "Last Page:"};
    const std::vector<std::string> values = {"", "2", "", "3", "40"};
    // The rows of the lists on disk, then the drive's free space, whose
    // figures are this machine's.
    auto rowsOf = [&](int column) {
        std::vector<std::string> rows = ListRows(cache, IDC_CACHELIST, column);
        EXPECT_EQ(rows.size(), names.size() + 1);
        if (rows.size() == names.size() + 1) {
            if (column == 0) {
                EXPECT_EQ(rows.back(), "Free space:");
            } else {
                EXPECT_NE(rows.back().find(" MB; downloads wait below "), std::string::npos) << rows.back();
            }
            rows.pop_back();
        }
        return rows;
    };
    EXPECT_EQ(rowsOf(0), names);
    EXPECT_EQ(rowsOf(1), values);
    Screenshot(cache, "local_cache");

    PostClick(cache, IDC_CLEAN);
    EXPECT_EQ(AnswerMessageBox(cache), "All cached files have been deleted. Files deleted: 2.");
    for (const std::string& p : typedImages) EXPECT_FALSE(FileExists(p)) << p;
    for (const std::string& p : storedImages) EXPECT_TRUE(FileExists(p)) << p;
    EXPECT_EQ(ReadFile(typed + "\\vdt_vd_files.lst").substr(0, 28), "[Veduta Lumora List v3]\r\n0\r\n");
    EXPECT_FALSE(FileExists(typed + "\\vdt_vd_paging.lst"));
    // The rows keep showing the state from the opening.
    EXPECT_EQ(rowsOf(1), values);
    CloseInner(cache, IDOK);

    // An empty folder: only the heading row, and the clean says there was nothing to clean.
    SetText(dlg, IDC_FOLDER, "");
    cache = OpenFrom(dlg, IDC_LOCALCACHE, "Local Cache");
    ASSERT_TRUE(cache);
    EXPECT_EQ(ListRows(cache, IDC_CACHELIST, 0), std::vector<std::string>{"Synchronization status:"});
    EXPECT_EQ(ListRows(cache, IDC_CACHELIST, 1), std::vector<std::string>{""});
    PostClick(cache, IDC_CLEAN);
    EXPECT_EQ(AnswerMessageBox(cache), IDS_CLEAN_NO_FOLDER_T);
    CloseInner(cache, IDOK);
    EXPECT_EQ(Close(dlg, IDCANCEL), 0);
    for (const std::string& p : storedImages) EXPECT_TRUE(FileExists(p)) << p;
}

TEST_F(Dialogs, OkClearsTheCacheOnlyWhenTheFeedsAskForSomethingElse) {
    const std::string folder = TempFolder("apply");
    const std::vector<std::string> images = MakeCache(folder, 2);
    const std::string list = ReadFile(folder + "\\vdt_vd_files.lst");
    HWND dlg = Open(MakeStore(folder, {TestFeed(), Collection("demo", "27", "Nature")}));
    ASSERT_TRUE(dlg);
    // Switching a feed off and renaming nothing: the same queries.
    SetListChecked(dlg, IDC_FEEDLIST, 1, false);
    EXPECT_EQ(Close(dlg, IDOK), 1);
    for (const std::string& p : images) EXPECT_TRUE(FileExists(p)) << p;
    EXPECT_EQ(ReadFile(folder + "\\vdt_vd_files.lst"), list);
    EXPECT_TRUE(FileExists(folder + "\\vdt_vd_paging.lst"));

    // Removing a feed changes them: the cache goes without a question.
    dlg = Reopen();
    ASSERT_TRUE(dlg);
    EXPECT_EQ(ListChecks(dlg), (std::vector<bool>{true, false}));
    SelectListRow(dlg, IDC_FEEDLIST, 0);
    PostClick(dlg, IDC_DELETE);
    for (int i = 0; i < 100 && ListCount(dlg, IDC_FEEDLIST) != 1; ++i) Sleep(20);
    EXPECT_EQ(Close(dlg, IDOK), 1);
    for (const std::string& p : images) EXPECT_FALSE(FileExists(p)) << p;
    EXPECT_EQ(ReadFile(folder + "\\vdt_vd_files.lst").substr(0, 28), "[Veduta Lumora List v3]\r\n0\r\n");
    EXPECT_FALSE(FileExists(folder + "\\vdt_vd_paging.lst"));
}

// ---- folder picker and help -------------------------------------------------

struct PickerSearch {
    HWND main, found;
};

// The shell's browser: the one other dialog of the host thread.
BOOL CALLBACK FindPicker(HWND w, LPARAM lp) {
    auto* s = reinterpret_cast<PickerSearch*>(lp);
    char cls[32] = {0};
    GetClassNameA(w, cls, sizeof cls);
    if (w != s->main && IsWindowVisible(w) && std::string(cls) == "#32770") {
        s->found = w;
        return FALSE;
    }
    return TRUE;
}

HWND WaitPicker(HWND mainDlg) {
    HWND found = nullptr;
    for (int i = 0; i < 1500 && !found; ++i) {
        PickerSearch s{mainDlg, nullptr};
        EnumThreadWindows(TheHost().ThreadId(), FindPicker, reinterpret_cast<LPARAM>(&s));
        found = s.found;
        if (!found) Sleep(20);
    }
    if (found) SendMessageA(found, WM_NULL, 0, 0);
    return found;
}

TEST_F(Dialogs, FolderPickerStartsAtTheTypedFolderAndAddsABackslash) {
    const std::string folder = TempFolder("picker");
    HWND dlg = Open(MakeStore(folder, {}));
    ASSERT_TRUE(dlg);
    // The browser's fallback is the process's current directory.
    const std::string cwd = TempFolder("picker-cwd");
    ASSERT_TRUE(SetCurrentDirectoryA(cwd.c_str()));
    const std::string cwdSlash = cwd + "\\";
    struct {
        std::string typed;
        int button;
        std::string expected;
    } cases[] = {
        {folder, IDOK, folder + "\\"},
        {folder, IDCANCEL, folder},
        // A folder that does not exist opens the browser at the current directory.
        {folder + "\\missing", IDOK, cwdSlash},
        {"", IDOK, cwdSlash},
        {"C:\\", IDOK, "C:\\"},
    };
    for (const auto& c : cases) {
        SetText(dlg, IDC_FOLDER, c.typed);
        PostClick(dlg, IDC_BROWSE);
        HWND picker = WaitPicker(dlg);
        ASSERT_TRUE(picker) << c.typed;
        // The browser expands its tree to the start folder after it opens;
        // its folder box names the selection once it is there.
        const std::string leaf = c.expected.substr(0, c.expected.size() - 1)
                                     .substr(c.expected.substr(0, c.expected.size() - 1).rfind('\\') + 1);
        HWND box = FindWindowExA(picker, nullptr, "Edit", nullptr);
        for (int i = 0; i < 500 && box && c.button == IDOK && c.expected.size() > 3; ++i) {
            char text[MAX_PATH] = {0};
            GetWindowTextA(box, text, sizeof text);
            if (leaf == text) break;
            Sleep(20);
        }
        if (c.typed == folder && c.button == IDOK) Screenshot(picker, "folder_picker");
        PostMessageA(picker, WM_COMMAND, MAKEWPARAM(c.button, BN_CLICKED), 0);
        EXPECT_TRUE(WaitGone(picker));
        SendMessageA(dlg, WM_NULL, 0, 0);
        for (int i = 0; i < 100 && GetText(dlg, IDC_FOLDER) != c.expected; ++i) Sleep(20);
        EXPECT_EQ(GetText(dlg, IDC_FOLDER), c.expected) << c.typed << " " << c.button;
    }
    EXPECT_EQ(Close(dlg, IDCANCEL), 0);
}

TEST_F(Dialogs, HelpOpensTheHelpFileBesideTheModule) {
    HWND dlg = Open(MakeStore(TempFolder("help"), {}));
    ASSERT_TRUE(dlg);
    PostClick(dlg, IDC_HELPBUTTON);
    // The help viewer names its window after the help file's title.
    HWND help = nullptr;
    for (int i = 0; i < 1500 && !help; ++i) {
        help = FindWindowA(nullptr, "Lumora Help");
        if (!help) Sleep(20);
    }
    ASSERT_TRUE(help) << "no help window";
    Sleep(500);
    Screenshot(help, "help");
    PostMessageA(help, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitGone(help));
    EXPECT_EQ(Close(dlg, IDCANCEL), 0);
}

// ---- what the dialogs keep and say ------------------------------------------

TEST_F(Dialogs, OkRefusesAFolderItCannotUseAndWritesTheKeyOnlyWhenAccepted) {
    const std::string folder = TempFolder("folder");
    const std::string file = folder + "\\a-file.txt";
    WriteFile(file, "x");
    SetRegistryKey("kept");
    HWND dlg = Open(MakeStore(folder, {TestFeed()}));
    ASSERT_TRUE(dlg);
    struct {
        std::string folder;
        std::string key;
        const char* message;
        const char* shot;
    } refused[] = {
        {"", "  first key ", IDS_FOLDER_EMPTY_T, nullptr},
        {folder + "\\missing", "\tsecond\r\n", IDS_FOLDER_MISSING_T, nullptr},
        {"Q:\\no\\such\\drive", "third", IDS_FOLDER_MISSING_T, nullptr},
        // Existence is not enough: downloads into a file fail silently.
        {file, "fourth", IDS_FOLDER_NOT_FOLDER_T, "message_folder_is_a_file"},
    };
    for (const auto& r : refused) {
        SetText(dlg, IDC_FOLDER, r.folder);
        SetText(dlg, IDC_APIKEY, r.key);
        PostClick(dlg, IDOK);
        EXPECT_EQ(AnswerMessageBox(dlg, r.shot ? r.shot : ""), r.message) << r.folder;
        EXPECT_TRUE(FocusIsSelectedEdit(dlg, IDC_FOLDER)) << r.folder;
        EXPECT_TRUE(IsWindowVisible(dlg));
        // A refused OK keeps nothing, the key included.
        EXPECT_EQ(RegistryKey(), "kept") << r.folder;
    }
    // Cancel after refused attempts: the stored key is the one from before.
    EXPECT_EQ(Close(dlg, IDCANCEL), 0);
    EXPECT_EQ(RegistryKey(), "kept");
    EXPECT_EQ(TheHost().Send(8), 0);

    // An accepted OK writes the key, trimmed, and keeps the folder.
    dlg = Reopen();
    ASSERT_TRUE(dlg);
    SetText(dlg, IDC_FOLDER, file);
    PostClick(dlg, IDOK);
    EXPECT_EQ(AnswerMessageBox(dlg), IDS_FOLDER_NOT_FOLDER_T);
    SetText(dlg, IDC_FOLDER, folder);
    SetText(dlg, IDC_APIKEY, " \tnew key  ");
    EXPECT_EQ(Close(dlg, IDOK), 1);
    EXPECT_EQ(RegistryKey(), "new key");
    TheHost().Send(6);
    EXPECT_EQ(TheHost().Store()["LumoraPlugIn/ImgFolder"], folder);
}

TEST_F(Dialogs, CollectionFeedKeepsTheUserNameLoadUsed) {
    HWND dlg = Open(MakeStore(TempFolder("trimmed-user"), {}));
    ASSERT_TRUE(dlg);
    HWND ed = OpenFrom(dlg, IDC_ADD, "Feed Settings");
    ASSERT_TRUE(ed);
    Click(ed, IDC_COLLECTION);
    SetText(ed, IDC_USERNAME, "  demo\t");
    Click(ed, IDC_LOAD);
    ASSERT_GE(ComboItems(ed, IDC_COLLLIST).size(), 1u);
    CloseInner(ed, IDOK);
    EXPECT_EQ(Close(dlg, IDOK), 1);
    TheHost().Send(6);
    EXPECT_EQ(TheHost().Store()[Feed(0, "Username")], "demo");
}

TEST_F(Dialogs, AnotherUserNeedsALoadBeforeOk) {
    HWND dlg = Open(MakeStore(TempFolder("other-user"), {Collection("demo", "27", "Nature")}));
    ASSERT_TRUE(dlg);
    SelectListRow(dlg, IDC_FEEDLIST, 0);
    HWND ed = OpenFrom(dlg, IDC_EDIT, "Feed Settings");
    ASSERT_TRUE(ed);
    SetText(ed, IDC_USERNAME, "empty");
    PostClick(ed, IDOK);
    EXPECT_EQ(AnswerMessageBox(ed), IDS_USER_CHANGED_T);
    EXPECT_TRUE(FocusIsSelectedEdit(ed, IDC_USERNAME));
    EXPECT_TRUE(IsWindowVisible(ed));
    // The former user typed back takes the collection that is still offered.
    SetText(ed, IDC_USERNAME, " demo ");
    CloseInner(ed, IDOK);
    EXPECT_EQ(ListText(dlg, IDC_FEEDLIST, 0), "Collection: demo/Nature");

    // A Load of the new user and a choice: the pair the service knows.
    Json::Value colls;
    ASSERT_TRUE(Json::Reader().parse(Http("GET", ServiceUrl() + "/api/v1/collections/alice").body, colls));
    ASSERT_GE(colls["data"].size(), 1u);
    SelectListRow(dlg, IDC_FEEDLIST, 0);  // refilling the list cleared the selection
    ed = OpenFrom(dlg, IDC_EDIT, "Feed Settings");
    ASSERT_TRUE(ed);
    SetText(ed, IDC_USERNAME, "alice");
    Click(ed, IDC_LOAD);
    SelectCombo(ed, IDC_COLLLIST, 0);
    CloseInner(ed, IDOK);
    EXPECT_EQ(Close(dlg, IDOK), 1);
    TheHost().Send(6);
    Store s = TheHost().Store();
    EXPECT_EQ(s[Feed(0, "Username")], "alice");
    EXPECT_EQ(s[Feed(0, "CollId")], std::to_string(colls["data"][0]["id"].asInt()));
    EXPECT_EQ(s[Feed(0, "CollName")], colls["data"][0]["label"].asString());
}

TEST_F(Dialogs, AnUnknownFeedTypeOpensAndIsKeptAsASearch) {
    TestFeed odd;
    odd.type = 2;
    odd.query = "lake";
    HWND dlg = Open(MakeStore(TempFolder("odd-type"), {odd}));
    ASSERT_TRUE(dlg);
    SelectListRow(dlg, IDC_FEEDLIST, 0);
    HWND ed = OpenFrom(dlg, IDC_EDIT, "Feed Settings");
    ASSERT_TRUE(ed);
    EXPECT_TRUE(Checked(ed, IDC_SEARCH));
    EXPECT_FALSE(Checked(ed, IDC_COLLECTION));
    EXPECT_TRUE(Enabled(ed, IDC_QUERY));
    PostClick(ed, IDC_CHECK);
    EXPECT_EQ(AnswerMessageBox(ed).rfind("The query executed successfully and returned a total of ", 0), 0u);
    std::vector<std::string> asked = ServiceRequests();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_NE(asked[0].find("q=lake"), std::string::npos) << asked[0];
    CloseInner(ed, IDOK);
    EXPECT_EQ(ListText(dlg, IDC_FEEDLIST, 0), "Search: lake - Gen+Anime+People, SFW, Random");
    EXPECT_EQ(Close(dlg, IDOK), 1);
    TheHost().Send(6);
    EXPECT_EQ(TheHost().Store()[Feed(0, "Type")], "0");
}

// Opens a file so that nobody else may delete it, for as long as the object lives.
class LockedFile {
  public:
    explicit LockedFile(const std::string& path)
        : m_h(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {}
    ~LockedFile() {
        if (m_h != INVALID_HANDLE_VALUE) CloseHandle(m_h);
    }
    bool ok() const { return m_h != INVALID_HANDLE_VALUE; }

  private:
    HANDLE m_h;
};

TEST_F(Dialogs, CleanLocalCacheSaysWhatItDid) {
    const std::string folder = TempFolder("clean-report"), bare = TempFolder("clean-bare");
    const std::vector<std::string> images = MakeCache(folder, 3);
    HWND dlg = Open(MakeStore(folder, {TestFeed()}));
    ASSERT_TRUE(dlg);
    struct {
        std::string typed;
        int locked;  // images held open while cleaning
        std::string message;
        const char* shot;
    } cases[] = {
        {folder, 2,
         "Not every cached file could be deleted. Files deleted: 1. Files that stayed: 2.\r\n\r\nThe first "
         "one: " +
             images[0] + "\r\nReason: ",
         "message_clean_partly"},
        // A typing error in the folder box: the message says so (it said the list "cannot be read").
        {folder + "\\no-such", 0,
         "Nothing was deleted: the folder " + folder +
             "\\no-such does not exist.\r\n\r\nCheck the name of the folder (a typing error?) or connect the "
             "drive it is on, "
             "then clean again.",
         "message_clean_no_such_folder"},
        // What stayed on record goes once nothing holds it.
        {folder, 0, "All cached files have been deleted. Files deleted: 2.", "message_clean_done"},
        {folder, 0, IDS_CLEAN_NOTHING_T, nullptr},
        {bare, 0, IDS_CLEAN_NOTHING_T, nullptr},
        {"", 0, IDS_CLEAN_NO_FOLDER_T, "message_clean_no_folder"},
    };
    for (const auto& c : cases) {
        SetText(dlg, IDC_FOLDER, c.typed);
        HWND cache = OpenFrom(dlg, IDC_LOCALCACHE, "Local Cache");
        ASSERT_TRUE(cache);
        std::vector<std::unique_ptr<LockedFile>> locks;
        for (int i = 0; i < c.locked; ++i) {
            locks.emplace_back(new LockedFile(images[static_cast<size_t>(i)]));
            ASSERT_TRUE(locks.back()->ok());
        }
        PostClick(cache, IDC_CLEAN);
        const std::string text = AnswerMessageBox(cache, c.shot ? c.shot : "");
        if (c.locked) {
            EXPECT_EQ(text.substr(0, c.message.size()), c.message) << text;
        } else {
            EXPECT_EQ(text, c.message) << c.typed;
        }
        locks.clear();
        CloseInner(cache, IDOK);
    }
    for (const std::string& p : images) EXPECT_FALSE(FileExists(p)) << p;
    EXPECT_EQ(Close(dlg, IDCANCEL), 0);
}

// A server that accepts the request and then says nothing.
const char kStalledSearch[] = R"([{"match": "/api/v1/search", "kind": "slow", "delay_ms": 60000}])";
const char kStalledCollections[] = R"([{"match": "/api/v1/collections", "kind": "slow", "delay_ms": 60000}])";

// The host thread answers a message within a second: its windows are not hung.
bool Responsive(HWND hwnd) {
    DWORD_PTR answer = 0;
    return SendMessageTimeoutA(hwnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, 1000, &answer) != 0;
}

TEST_F(Dialogs, CheckAndLoadKeepTheWindowsAliveAndCanBeCancelled) {
    HWND dlg = Open(MakeStore(TempFolder("stalled"), {}));
    ASSERT_TRUE(dlg);
    HWND ed = OpenFrom(dlg, IDC_ADD, "Feed Settings");
    ASSERT_TRUE(ed);

    SetFaults(kStalledSearch);
    PostClick(ed, IDC_CHECK);
    HWND wait = WaitDialog(kWaitCaption, ed);
    ASSERT_TRUE(wait) << "no wait window";
    EXPECT_TRUE(Responsive(ed));
    EXPECT_TRUE(Responsive(dlg));
    EXPECT_FALSE(IsWindowEnabled(ed));  // modal to the editor
    Screenshot(wait, "wait");
    PostClick(wait, IDCANCEL);
    EXPECT_EQ(AnswerMessageBox(ed, "", 60000), IDS_REQUEST_CANCELLED_T);
    EXPECT_TRUE(IsWindowEnabled(ed));
    EXPECT_TRUE(IsWindowVisible(ed));

    // Nobody gives up: the deadline does, and says so.
    SetFaults(kStalledCollections);
    Click(ed, IDC_COLLECTION);
    SetText(ed, IDC_USERNAME, "demo");
    PostClick(ed, IDC_LOAD);
    wait = WaitDialog(kWaitCaption, ed);
    ASSERT_TRUE(wait) << "no wait window";
    EXPECT_TRUE(Responsive(ed));
    EXPECT_EQ(
        AnswerMessageBox(ed, "", 60000),
        "The service did not answer within 20 seconds. Check the connection to the internet and try again "
        "later.");
    EXPECT_TRUE(ComboItems(ed, IDC_COLLLIST).empty());

    // And the editor still works once the service answers again.
    SetFaults("[]");
    Click(ed, IDC_LOAD);
    EXPECT_FALSE(ComboItems(ed, IDC_COLLLIST).empty());
    CloseInner(ed, IDCANCEL);
    EXPECT_EQ(Close(dlg, IDCANCEL), 0);
}

// ---- keyboard and look --------------------------------------------------------

// The character after a single '&' of a control text, upper case; 0 for none.
char MnemonicOf(const std::string& text) {
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '&') continue;
        if (text[i + 1] == '&') {
            ++i;
            continue;
        }
        return static_cast<char>(toupper(static_cast<unsigned char>(text[i + 1])));
    }
    return 0;
}

// Every mnemonic of the dialog's controls, in child order.
std::string Mnemonics(HWND dlg) {
    std::string keys;
    for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        char text[512] = {0};
        GetWindowTextA(c, text, sizeof text);
        if (char k = MnemonicOf(text)) keys += k;
    }
    return keys;
}

// Ids of the controls Tab visits from the first one, until it comes round.
std::vector<int> TabOrder(HWND dlg) {
    std::vector<int> ids;
    HWND first = GetNextDlgTabItem(dlg, nullptr, FALSE);
    for (HWND c = first; c && ids.size() < 64;) {
        ids.push_back(GetDlgCtrlID(c));
        c = GetNextDlgTabItem(dlg, c, FALSE);
        if (c == first) break;
    }
    return ids;
}

std::vector<int> EnabledOnly(HWND dlg, std::vector<int> ids) {
    std::vector<int> out;
    for (int id : ids)
        if (IsWindowEnabled(GetDlgItem(dlg, id))) out.push_back(id);
    return out;
}

// Alt and a letter on the host thread, as the keyboard sends it.
void PressAlt(char key) {
    HWND focus = FocusedControl();
    PostMessageA(focus, WM_SYSCHAR, static_cast<WPARAM>(tolower(key)), 0x20000001);
}

void PressKey(WPARAM vk) {
    PostMessageA(FocusedControl(), WM_KEYDOWN, vk, 0x00000001);
}

bool FocusOn(HWND dlg, int id) {
    for (int i = 0; i < 250; ++i) {
        if (FocusedControl() == GetDlgItem(dlg, id)) return true;
        Sleep(20);
    }
    return false;
}

void ExpectUniqueMnemonics(HWND dlg, const std::string& expected, const char* which) {
    const std::string keys = Mnemonics(dlg);
    std::string sorted = keys;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << which << ": " << keys;
    std::string want = expected;
    std::sort(want.begin(), want.end());
    EXPECT_EQ(sorted, want) << which;
}

TEST_F(Dialogs, EveryDialogWorksFromTheKeyboard) {
    SetRegistryKey("testkey123");
    HWND dlg = Open(MakeStore(TempFolder("keys"), {TestFeed()}));
    ASSERT_TRUE(dlg);
    ExpectUniqueMnemonics(dlg, "PFKAEDSLH", "main");
    EXPECT_EQ(TabOrder(dlg), (std::vector<int>{IDC_ENABLED, IDC_FOLDER, IDC_BROWSE, IDC_APIKEY, IDC_FEEDLIST,
                                               IDC_ADD, IDC_EDIT, IDC_DELETE, IDC_SETTINGS, IDC_LOCALCACHE,
                                               IDOK, IDCANCEL, IDC_HELPBUTTON}));
    const struct {
        char key;
        int target;
    } mainLabels[] = {{'K', IDC_APIKEY}, {'F', IDC_FOLDER}};
    for (const auto& l : mainLabels) {
        PressAlt(l.key);
        EXPECT_TRUE(FocusOn(dlg, l.target)) << l.key;
    }

    HWND ed = OpenFrom(dlg, IDC_ADD, "Feed Settings");
    ASSERT_TRUE(ed);
    ExpectUniqueMnemonics(ed, "SOQGAPFKNRTMIULCH", "feed editor");
    const std::vector<int> editorOrder = {IDC_SEARCH,  IDC_QUERY,   IDC_GENERAL,  IDC_ANIME,   IDC_PEOPLE,
                                          IDC_SFW,     IDC_SKETCHY, IDC_NSFW,     IDC_SORTING, IDC_TOPRANGE,
                                          IDC_ATLEAST, IDC_RATIOS,  IDC_USERNAME, IDC_LOAD,    IDC_COLLLIST,
                                          IDC_CHECK,   IDOK,        IDCANCEL};
    EXPECT_EQ(TabOrder(ed), EnabledOnly(ed, editorOrder));
    SelectCombo(ed, IDC_SORTING, 5);
    const struct {
        char key;
        int target;
    } editorLabels[] = {
        {'Q', IDC_QUERY}, {'R', IDC_SORTING}, {'T', IDC_TOPRANGE}, {'M', IDC_ATLEAST}, {'I', IDC_RATIOS}};
    for (const auto& l : editorLabels) {
        PressAlt(l.key);
        EXPECT_TRUE(FocusOn(ed, l.target)) << l.key;
    }
    PressAlt('O');  // the Collection button
    for (int i = 0; i < 100 && !Checked(ed, IDC_COLLECTION); ++i) Sleep(20);
    EXPECT_TRUE(Checked(ed, IDC_COLLECTION));
    // Tab enters the radio group at its checked button.
    EXPECT_EQ(TabOrder(ed), EnabledOnly(ed, {IDC_COLLECTION, IDC_USERNAME, IDC_LOAD, IDC_COLLLIST, IDC_CHECK,
                                             IDOK, IDCANCEL}));
    for (const auto& l : {std::make_pair('U', IDC_USERNAME), std::make_pair('C', IDC_COLLLIST)}) {
        PressAlt(l.first);
        EXPECT_TRUE(FocusOn(ed, l.second)) << l.first;
    }
    PressKey(VK_ESCAPE);
    EXPECT_TRUE(WaitGone(ed));
    EXPECT_EQ(ListCount(dlg, IDC_FEEDLIST), 1);

    HWND settings = OpenFrom(dlg, IDC_SETTINGS, "Settings");
    ASSERT_TRUE(settings);
    ExpectUniqueMnemonics(settings, "TDM", "settings");
    EXPECT_EQ(TabOrder(settings),
              (std::vector<int>{IDC_VPROP_TITLE, IDC_VPROP_DESCR, IDC_CACHESIZE, IDOK, IDCANCEL}));
    PressAlt('M');
    ASSERT_TRUE(FocusOn(settings, IDC_CACHESIZE));
    SetText(settings, IDC_CACHESIZE, "77");
    PressKey(VK_RETURN);  // Enter is OK
    EXPECT_TRUE(WaitGone(settings));

    HWND cache = OpenFrom(dlg, IDC_LOCALCACHE, "Local Cache");
    ASSERT_TRUE(cache);
    ExpectUniqueMnemonics(cache, "C", "local cache");
    EXPECT_EQ(TabOrder(cache), (std::vector<int>{IDC_CACHELIST, IDC_CLEAN, IDOK}));
    PressKey(VK_ESCAPE);  // no Cancel button, Esc still closes
    EXPECT_TRUE(WaitGone(cache));

    // Enter in an edit is OK (on a push button it would press that button).
    PressAlt('F');
    ASSERT_TRUE(FocusOn(dlg, IDC_FOLDER));
    PressKey(VK_RETURN);
    ASSERT_EQ(m_result.wait_for(std::chrono::seconds(30)), std::future_status::ready)
        << "Enter did not close it";
    EXPECT_EQ(m_result.get(), 1);
    TheHost().Send(6);
    EXPECT_EQ(TheHost().Store()["LumoraPlugIn/MaxLocal"], "77");
}

TEST_F(Dialogs, DialogsUseTheThemedCommonControls) {
    HWND dlg = Open(MakeStore(TempFolder("look"), {}));
    ASSERT_TRUE(dlg);
    // Only version 6 of the common controls knows a button's ideal size.
    SIZE size = {0, 0};
    EXPECT_TRUE(SendMessageA(GetDlgItem(dlg, IDOK), BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&size)));
    EXPECT_GT(size.cx, 0);
    HWND ed = OpenFrom(dlg, IDC_ADD, "Feed Settings");
    ASSERT_TRUE(ed);
    size = {0, 0};
    EXPECT_TRUE(
        SendMessageA(GetDlgItem(ed, IDC_CHECK), BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&size)));
    CloseInner(ed, IDCANCEL);
    EXPECT_EQ(Close(dlg, IDCANCEL), 0);
}

// Last: the worker started here runs until the test stops it, and a module
// starts its worker once per load.
TEST_F(Dialogs, ConfigureWhileTheWorkerRuns) {
    const std::string folder = TempFolder("running");
    Store store = MakeStore(folder, {TestFeed()});
    store["LumoraPlugIn/MaxLocal"] = "5";
    TheHost().SetStore(store);
    TheHost().LoadSettings();
    TheHost().Send(9);
    // The worker is at work once its first image is in the cache list.
    std::string list;
    for (int i = 0; i < 3000; ++i) {
        list = ReadFile(folder + "\\vdt_vd_files.lst");
        if (list.find("\\sfw\\") != std::string::npos) break;
        Sleep(20);
    }
    ASSERT_NE(list.find("\\sfw\\"), std::string::npos) << "the worker downloaded nothing";

    HWND dlg = Reopen();
    ASSERT_TRUE(dlg);
    HWND ed = OpenFrom(dlg, IDC_ADD, "Feed Settings");
    ASSERT_TRUE(ed);
    SetText(ed, IDC_QUERY, "forest");
    CloseInner(ed, IDOK);
    EXPECT_EQ(Close(dlg, IDOK), 1);
    TheHost().Send(10, 0, 1);

    // The changed list cleared the cache the worker had filled.
    bool cleaned = false;
    for (const std::string& line : TheHost().LogLines())
        if (line.rfind("CleanLocalFiles: Removed " + folder, 0) == 0) cleaned = true;
    EXPECT_TRUE(cleaned);
    TheHost().Send(6);
    Store s = TheHost().Store();
    EXPECT_EQ(s["LumoraPlugIn/nFeeds"], "2");
    EXPECT_EQ(s[Feed(1, "Query")], "forest");
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: ui_dialog_tests PATH-OF-lumora.vpl\n");
        return 2;
    }
    // The module reads the service's address when it builds a request.
    const std::string url = ServiceUrl();
    if (url.empty()) {
        std::fprintf(stderr, "no stand-in service (LUMORA_TEST_SERVICE_DIR/url)\n");
        return 2;
    }
    SetEnvironmentVariableA("LUMORA_SERVICE_URL", url.c_str());
    _putenv(("LUMORA_SERVICE_URL=" + url).c_str());
    std::string module = argv[1];
    if (!module.empty() && module[0] == '/') module = WinPath(module);
    if (!TheHost().Start(module)) {
        std::fprintf(stderr, "cannot load %s\n", module.c_str());
        return 2;
    }
    int rc = RUN_ALL_TESTS();
    TheHost().Stop();
    return rc;
}
