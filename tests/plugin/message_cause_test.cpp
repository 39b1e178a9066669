// Messages that name the true cause: a clean of a folder that is not there or
// whose list another program holds, a collection feed whose user name was
// blanked, an image folder that exists but cannot be looked at, counts of
// one, and a dialog command that failed unexpectedly.
// They live beside the plug-in's tests because they span the engine, which says
// what happened, and the dialog logic, which says it to the user.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "support/test_folder.h"
#include "engine/engine.h"
#include "platform/fs.h"
#include "common/strings.h"
#include "ui/dialog_logic.h"
#include "ui/resource.h"
#include "ui/ui_strings.h"

namespace {

std::string FakeErrorText(int code) {
    return "system text " + std::to_string(code);
}

std::string Printf1(const char* pattern, const std::string& arg) {
    char buf[1024];
    std::snprintf(buf, sizeof buf, pattern, arg.c_str());
    return buf;
}

// Opening one path fails with a chosen error, as when another program holds
// the file; every other call is the real one.
struct HeldFile {
    static std::string& Path() {
        static std::string path;
        return path;
    }
    static int& Error() {
        static int error = 0;
        return error;
    }
    static FILE* OpenChecked(const std::string& path, const char* mode, int* error) {
        if (path == Path()) {
            *error = Error();
            return nullptr;
        }
        return plat::RealFileOps().openChecked(path, mode, error);
    }
};

class CleanMessage : public ::testing::Test {
  protected:
    CLumoraSettings settings;
    std::atomic<int32_t> closing{0};
    std::atomic<int32_t> hosttype{1};
    std::unique_ptr<CLumoraEngine> engine;
    std::string folder;
    plat::FileOps ops = plat::RealFileOps();

    void SetUp() override {
        folder = TestFolder("lumora_msg_");
        while (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
        settings.ImgFolder = folder;
        settings.MaxLocal = 100;
        engine.reset(new CLumoraEngine(settings, closing, hosttype));
        ops.openChecked = &HeldFile::OpenChecked;
    }
    void TearDown() override {
        plat::SetFileOpsForTest(nullptr);
        engine.reset();
        std::error_code ec;
        std::filesystem::remove_all(std::filesystem::path(folder), ec);
    }
    std::string In(const std::string& name) { return folder + plat::kPathSep + name; }
};

// Before, every one of these said the list "cannot be read" and advised
// checking permissions and free space.
TEST_F(CleanMessage, NamesWhyTheListCouldNotBeUsed) {
    struct Row {
        const char* what;
        std::string cleaned;  // folder given to the clean
        int held;             // error of opening the list (0: not held)
        std::string text;
    };
    const std::string typo = In("no-such-folder");
    const std::string list = In("vdt_vd_files.lst");
    const Row rows[] = {
        {"a folder that does not exist (a typo)", typo, 0, Printf1(IDS_CLEAN_NO_SUCH_FOLDER_T, typo)},
        {"the image folder's list held by another program", folder, plat::kErrSharingViolation,
         Printf1(IDS_CLEAN_LIST_IN_USE_T, list)},
        {"the list locked by another program", folder, 33, Printf1(IDS_CLEAN_LIST_IN_USE_T, list)},
        {"the list denied to us", folder, plat::kErrAccessDenied,
         "Nothing was deleted: Lumora could not use its list of cached files, " + list +
             " (system text 5).\r\n\r\nMake sure you may change the folder and that the disk is not full, "
             "then "
             "clean again."},
    };
    {
        FILE* f = std::fopen(list.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("[Veduta Lumora List v3]\r\n0\r\n0\r\n\r\n", f);
        std::fclose(f);
    }
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        HeldFile::Path() = r.held ? list : std::string();
        HeldFile::Error() = r.held;
        plat::SetFileOpsForTest(&ops);
        const ClearCacheResult done = engine->ClearCache(r.cleaned);
        plat::SetFileOpsForTest(nullptr);
        EXPECT_TRUE(done.listUnusable);
        EXPECT_EQ(ui::CleanReport(ui::OutcomeOf(r.cleaned, done, &FakeErrorText)), r.text);
    }
    // Once the other program lets go, the clean goes through.
    const ClearCacheResult done = engine->ClearCache(folder);
    EXPECT_FALSE(done.listUnusable);
    EXPECT_EQ(ui::CleanReport(ui::OutcomeOf(folder, done, &FakeErrorText)), IDS_CLEAN_NOTHING_T);
}

// Blanking the user name of a collection feed asked for a Load of "another
// user" (and Load then for a user name): the missing name comes first.
TEST(BlankUserName, AsksForAUserName) {
    for (const char* typed : {"", " ", "\t  ", "\r\n"}) {
        CLumoraFeed feed;
        feed.Type = 1;
        feed.Username = "demo";
        feed.CollId = "27";
        feed.CollName = "Nature";
        ui::CollectionOwner owner(feed);
        ui::FeedFields fields = ui::FieldsFromFeed(feed);
        fields.username = typed;
        ui::StoreFields(fields, feed);
        CCollectionArray listed;
        const bool dropped = owner.Store(-1, listed, feed);
        ui::RuleResult r = ui::ValidateFeed(fields, feed, dropped);
        EXPECT_EQ(r.messageId, static_cast<unsigned>(IDS_NEED_USERNAME)) << "[" << typed << "]";
        EXPECT_EQ(r.focusControl, IDC_USERNAME);
    }
}

// "Configured folder doesn't exist" was said for every failure to look at
// the folder; only "not found" says so now.
TEST(ImageFolderMessage, NamesWhyTheFolderCannotBeUsed) {
    const struct {
        const char* what;
        int probeError;
        std::string text;
    } rows[] = {
        {"file not found", 2, IDS_FOLDER_MISSING_T},
        {"path not found", 3, IDS_FOLDER_MISSING_T},
        {"drive not found", 15, IDS_FOLDER_MISSING_T},
        {"access denied", 5, Printf1(IDS_FOLDER_UNUSABLE_T, "system text 5")},
        {"offline share", 53, Printf1(IDS_FOLDER_UNUSABLE_T, "system text 53")},
        {"path too long", 206, Printf1(IDS_FOLDER_UNUSABLE_T, "system text 206")},
        {"device not ready", 21, Printf1(IDS_FOLDER_UNUSABLE_T, "system text 21")},
    };
    for (const auto& r : rows) {
        const ui::FolderFacts facts = {false, false, 0, r.probeError};
        const ui::RuleResult rule = ui::CheckUsableFolder("\\\\server\\pics", facts);
        EXPECT_EQ(rule.focusControl, IDC_FOLDER) << r.what;
        EXPECT_EQ(ui::FolderRuleText(rule, facts, &FakeErrorText), r.text) << r.what;
    }
    // A folder no file can be created in names the creation's error.
    const ui::FolderFacts readOnly = {true, true, 5, 0};
    EXPECT_EQ(ui::FolderRuleText(ui::CheckUsableFolder("C:\\ro", readOnly), readOnly, &FakeErrorText),
              Printf1(IDS_FOLDER_NOT_WRITABLE_T, "system text 5"));
}

// "1 cached files have been deleted": every count reads right for one.
TEST(Counts, ReadRightInTheSingular) {
    ui::CleanOutcome partly = {true, 1, 1, "C:\\p\\sfw\\a.jpg", "in use", false, 0, "C:\\p"};
    const std::string text = ui::CleanReport(partly);
    EXPECT_EQ(text.find("Not every cached file could be deleted. Files deleted: 1. Files that stayed: 1."),
              0u)
        << text;
    EXPECT_EQ(ui::CheckOkText(1), "The query executed successfully and returned a total of 1 photo");
    EXPECT_EQ(ui::CheckOkText(2), "The query executed successfully and returned a total of 2 photos");
    EXPECT_EQ(ui::CheckOkText(0), "The query executed successfully and returned a total of 0 photos");
    CLumoraCollection one;
    one.Label = "Forests";
    one.Count = 1;
    EXPECT_EQ(ui::LoadedCollectionItem(one), "Forests (1 wallpaper)");
}

// A command that throws showed the exception's bare text.
TEST(CommandFailure, SaysWhatWasBeingDoneAndWhatToTry) {
    const struct {
        int command;
        std::string failure;
        const char* doing;
        const char* why;
    } rows[] = {
        {IDC_CLEAN, "vector::_M_realloc_insert", "clean the local cache", "vector::_M_realloc_insert"},
        {IDC_LOAD, "not enough memory", "load the collections of this user", "not enough memory"},
        {IDC_CHECK, "x", "check the feed with the service", "x"},
        {ui::kOkCommand, "y", "accept the settings of this window", "y"},
        {IDC_FEEDLIST, "z", "edit the feed", "z"},
        {4242, "", "carry out this command", "unknown error"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(
            ui::CommandFailureText(r.command, r.failure),
            std::string("Lumora could not ") + r.doing + ": " + r.why +
                ".\r\n\r\nThe window stays open: try again. If it fails again, close the window and open "
                "it again; the host's log has the details.")
            << r.command;
    }
}

}  // namespace
