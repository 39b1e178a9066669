// What the dialogs store and say after the user's action: the user name and
// collection a feed editor keeps, the radio button of an unknown feed type,
// the image folder rule beyond existence, the report of a cache clean and the
// text after a request that was cancelled or timed out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/strings.h"
#include "ui/dialog_logic.h"
#include "ui/resource.h"
#include "ui/ui_strings.h"

namespace {

CLumoraCollection Coll(const char* id, const char* label) {
    CLumoraCollection c;
    c.Id = id;
    c.Label = label;
    return c;
}

CLumoraFeed CollectionFeed(const char* user, const char* id, const char* label) {
    CLumoraFeed f;
    f.Type = 1;
    f.Username = user;
    f.CollId = id;
    f.CollName = label;
    return f;
}

TEST(FeedFields, UserNameIsStoredTrimmedOtherTextsAsTyped) {
    CLumoraFeed f;
    ui::FeedFields fields = ui::FieldsFromFeed(f);
    fields.type = 1;
    fields.username = "  demo\t";
    fields.query = " sea ";
    fields.atleast = " 1920x1080 ";
    ui::StoreFields(fields, f);
    EXPECT_EQ(f.Username, "demo");
    EXPECT_EQ(f.Query, " sea ");
    EXPECT_EQ(f.Atleast, " 1920x1080 ");
}

// One editor session: the feed it opened with, then user actions in order.
struct Action {
    enum Kind { Type, Load, Select, Ok } kind;
    std::string text;  // Type: the user name as typed; Load: the user Load listed
    int index;         // Select: the combo item; Load: number of collections listed (0 = failed or none)
    // Ok: what the read-back stores and whether a collection was dropped.
    const char* collId;
    bool dropped;
};

TEST(CollectionOwner, AChangedUserNeedsACollectionOfThatUser) {
    const CCollectionArray demoColls = [] {
        CCollectionArray a;
        a.Add(Coll("15", "Default"));
        a.Add(Coll("16", "Forests"));
        return a;
    }();
    const CCollectionArray otherColls = [] {
        CCollectionArray a;
        a.Add(Coll("90", "Cities"));
        return a;
    }();
    struct Case {
        const char* name;
        CLumoraFeed opened;
        std::vector<Action> actions;
    } cases[] = {
        {"unchanged user keeps its collection",
         CollectionFeed("demo", "27", "Nature"),
         {{Action::Type, " demo ", 0, nullptr, false}, {Action::Ok, "", 0, "27", false}}},
        {"stored name with blanks still owns its collection",
         CollectionFeed(" demo", "27", "Nature"),
         {{Action::Ok, "", 0, "27", false}}},
        {"another user without Load drops the collection",
         CollectionFeed("demo", "27", "Nature"),
         {{Action::Type, "other", 0, nullptr, false}, {Action::Ok, "", 0, "", true}}},
        {"another user loaded and chosen",
         CollectionFeed("demo", "27", "Nature"),
         {{Action::Type, "other", 0, nullptr, false},
          {Action::Load, "other", 1, nullptr, false},
          {Action::Select, "", 0, nullptr, false},
          {Action::Ok, "", 0, "90", false}}},
        {"loaded for another user, then the name typed back",
         CollectionFeed("demo", "27", "Nature"),
         {{Action::Load, "other", 1, nullptr, false},
          {Action::Select, "", 0, nullptr, false},
          {Action::Type, "demo", 0, nullptr, false},
          {Action::Ok, "", 0, "", true}}},
        {"failed Load for the same user keeps the collection",
         CollectionFeed("demo", "27", "Nature"),
         {{Action::Load, "demo", 0, nullptr, false},
          {Action::Select, "", -1, nullptr, false},
          {Action::Ok, "", 0, "27", false}}},
        {"failed Load for another user drops it",
         CollectionFeed("demo", "27", "Nature"),
         {{Action::Type, "nobody", 0, nullptr, false},
          {Action::Load, "nobody", 0, nullptr, false},
          {Action::Select, "", -1, nullptr, false},
          {Action::Ok, "", 0, "", true}}},
        {"new feed: Load, choose, OK",
         CLumoraFeed(),
         {{Action::Type, "  demo\t", 0, nullptr, false},
          {Action::Load, "demo", 2, nullptr, false},
          {Action::Select, "", 1, nullptr, false},
          {Action::Ok, "", 0, "16", false}}},
        {"new feed without Load has nothing to drop",
         CLumoraFeed(),
         {{Action::Type, "demo", 0, nullptr, false}, {Action::Ok, "", 0, "", false}}},
        // The combo box still offers demo's collection: typing demo again takes it.
        {"the former user typed back after a refused OK",
         CollectionFeed("demo", "27", "Nature"),
         {{Action::Type, "other", 0, nullptr, false},
          {Action::Ok, "", 0, "", true},
          {Action::Type, "demo", 0, nullptr, false},
          {Action::Ok, "", 0, "27", false}}},
    };
    for (const Case& c : cases) {
        CLumoraFeed feed = c.opened;
        if (feed.Type != 1) feed.Type = 1;
        ui::CollectionOwner owner(c.opened);
        ui::FeedFields fields = ui::FieldsFromFeed(feed);
        fields.type = 1;
        CCollectionArray listed;
        if (!c.opened.CollId.empty()) listed.Add(Coll(c.opened.CollId.c_str(), c.opened.CollName.c_str()));
        int selected = listed.GetSize() > 0 ? 0 : -1;
        for (const Action& a : c.actions) {
            switch (a.kind) {
                case Action::Type:
                    fields.username = a.text;
                    break;
                case Action::Load:
                    listed.RemoveAll();
                    for (int i = 0; i < a.index; ++i)
                        listed.Add((a.text == "demo" ? demoColls : otherColls)[i]);
                    owner.Listed(a.text);
                    selected = -1;
                    break;
                case Action::Select:
                    selected = a.index;
                    break;
                case Action::Ok: {
                    ui::StoreFields(fields, feed);
                    bool dropped = owner.Store(selected, listed, feed);
                    EXPECT_EQ(feed.CollId, a.collId) << c.name;
                    EXPECT_EQ(dropped, a.dropped) << c.name;
                    ui::RuleResult r = ui::ValidateFeed(fields, feed, dropped);
                    const unsigned expected = a.dropped                       ? IDS_USER_CHANGED
                                              : std::string(a.collId).empty() ? IDS_NEED_COLLECTION
                                                                              : 0u;
                    EXPECT_EQ(r.messageId, expected) << c.name;
                    if (!r.ok()) {
                        EXPECT_EQ(r.focusControl, IDC_USERNAME) << c.name;
                    }
                    break;
                }
            }
        }
    }
}

TEST(CollectionOwner, SearchFeedsAreNotTouched) {
    CLumoraFeed f = CollectionFeed("demo", "27", "Nature");
    ui::CollectionOwner owner(f);
    f.Type = 0;
    f.Username = "other";
    CCollectionArray none;
    EXPECT_FALSE(owner.Store(-1, none, f));
    EXPECT_EQ(f.CollId, "27");
    EXPECT_EQ(f.CollName, "Nature");
}

TEST(EditorFeedType, UnknownTypesOpenAsSearch) {
    const struct {
        int stored;
        int shown;
    } cases[] = {{0, 0}, {1, 1}, {2, 0}, {-1, 0}, {7, 0}, {1000000, 0}};
    for (const auto& c : cases) EXPECT_EQ(ui::EditorFeedType(c.stored), c.shown) << c.stored;
}

TEST(ImageFolder, MustBeAFolderFilesCanBeCreatedIn) {
    const struct {
        const char* folder;
        ui::FolderFacts facts;
        unsigned message;
    } cases[] = {
        {"", {false, false, 0, 0}, IDS_FOLDER_EMPTY},
        {"C:\\none", {false, false, 0, 3}, IDS_FOLDER_MISSING},
        {"C:\\denied", {false, false, 0, 5}, IDS_FOLDER_UNUSABLE},
        {"C:\\a.txt", {true, false, 0, 0}, IDS_FOLDER_NOT_FOLDER},
        {"C:\\ro", {true, true, 5, 0}, IDS_FOLDER_NOT_WRITABLE},
        {"C:\\full", {true, true, 112, 0}, IDS_FOLDER_NOT_WRITABLE},
        {"C:\\pics", {true, true, 0, 0}, 0},
    };
    for (const auto& c : cases) {
        ui::RuleResult r = ui::CheckUsableFolder(c.folder, c.facts);
        EXPECT_EQ(r.messageId, c.message) << c.folder;
        EXPECT_EQ(r.focusControl, r.ok() ? 0 : IDC_FOLDER) << c.folder;
    }
}

TEST(CleanReport, SaysWhatWasDone) {
    const struct {
        ui::CleanOutcome outcome;
        std::string text;
    } cases[] = {
        {{false, 0, 0, "", "", false, 0, ""}, IDS_CLEAN_NO_FOLDER_T},
        {{true, 0, 0, "", "", false, 0, "C:\\p"}, IDS_CLEAN_NOTHING_T},
        {{true, 3, 0, "", "", false, 0, "C:\\p"}, "All cached files have been deleted. Files deleted: 3."},
        {{true, 0, 0, "C:\\p\\vdt_vd_files.lst", "it cannot be read", true, 0, "C:\\p"},
         "Nothing was deleted: Lumora could not use its list of cached files, C:\\p\\vdt_vd_files.lst (it "
         "cannot be "
         "read).\r\n\r\nMake sure you may change the folder and that the disk is not full, then clean "
         "again."},
        {{true, 1, 2, "C:\\p\\sfw\\a.jpg", "The process cannot access the file (error 32)", false, 32,
          "C:\\p"},
         "Not every cached file could be deleted. Files deleted: 1. Files that stayed: 2.\r\n\r\nThe first "
         "one: "
         "C:\\p\\sfw\\a.jpg\r\n"
         "Reason: The process cannot access the file (error 32)\r\n\r\nClose programs that may be showing "
         "these "
         "files, make sure you may change the folder, then clean again."},
        {{true, 0, 1, "C:\\p\\nsfw\\b.png", "Access is denied (error 5)", false, 5, "C:\\p"},
         "Not every cached file could be deleted. Files deleted: 0. Files that stayed: 1.\r\n\r\nThe first "
         "one: "
         "C:\\p\\nsfw\\b.png\r\n"
         "Reason: Access is denied (error 5)\r\n\r\nClose programs that may be showing these files, make "
         "sure you "
         "may change the folder, then clean again."},
    };
    for (const auto& c : cases) EXPECT_EQ(ui::CleanReport(c.outcome), c.text) << c.text;
}

TEST(RequestOutcome, CancelAndTimeOutSayWhatHappened) {
    const struct {
        ui::RequestEnd end;
        const char* clientText;
        std::string shown;
    } cases[] = {
        {ui::RequestEnd::Finished, "QueryServer: HTTP Error 404", "QueryServer: HTTP Error 404"},
        {ui::RequestEnd::Cancelled, "QueryServer: Generic Error 12017", IDS_REQUEST_CANCELLED_T},
        {ui::RequestEnd::TimedOut, "QueryServer: Generic Error 12002",
         "The service did not answer within 20 seconds. Check the connection to the internet and try again "
         "later."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ui::RequestFailureText(c.end, c.clientText, 20), c.shown) << c.clientText;
}

}  // namespace
