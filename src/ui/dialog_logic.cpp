// Window-free logic of the configuration dialogs (see dialog_logic.h).
#include "ui/dialog_logic.h"

#include <cstdarg>
#include <cstdio>

#include "common/strings.h"
#include "ui/resource.h"
#include "ui/ui_strings.h"

namespace ui {

const char kStatusHeading[] = "Synchronization status:";

// ---- feed editor -------------------------------------------------------

void ReadFlagField(const std::string& field, int boxes[3]) {
    for (size_t k = 0; k < 3; ++k) boxes[k] = (k < field.size() && field[k] == '1') ? 1 : 0;
}

std::string FormatFlagField(const int boxes[3]) {
    std::string out;
    for (int k = 0; k < 3; ++k) out += boxes[k] ? '1' : '0';
    return out;
}

FeedFields FieldsFromFeed(const CLumoraFeed& feed) {
    FeedFields f;
    f.type = feed.Type;
    f.query = feed.Query;
    ReadFlagField(feed.Categories, f.categories);
    ReadFlagField(feed.Purity, f.purity);
    f.sorting = feed.Sorting;
    f.topRange = feed.TopRange;
    f.atleast = feed.Atleast;
    f.ratios = feed.Ratios;
    f.username = feed.Username;
    return f;
}

void StoreFields(const FeedFields& fields, CLumoraFeed& feed) {
    feed.Type = fields.type;
    feed.Query = fields.query;
    feed.Atleast = fields.atleast;
    feed.Ratios = fields.ratios;
    feed.Sorting = fields.sorting;
    feed.TopRange = fields.topRange;
    feed.Username = TrimWhiteSpace(fields.username);
    feed.Categories = FormatFlagField(fields.categories);
    feed.Purity = FormatFlagField(fields.purity);
}

void StoreCollectionChoice(int selected, const CCollectionArray& collections, CLumoraFeed& feed) {
    if (feed.Type != 1 || selected < 0 || selected >= collections.GetSize()) return;
    feed.CollId = collections[selected].Id;
    feed.CollName = collections[selected].Label;
}

static bool AnyChecked(const int boxes[3]) {
    return boxes[0] || boxes[1] || boxes[2];
}

RuleResult ValidateFeed(const FeedFields& fields, const CLumoraFeed& feed) {
    RuleResult r;
    if (fields.type == 0 && !AnyChecked(fields.categories)) {
        r.messageId = IDS_NEED_CATEGORY;
    } else if (fields.type == 0 && !AnyChecked(fields.purity)) {
        r.messageId = IDS_NEED_PURITY;
    } else if (fields.type == 1 && TrimWhiteSpace(fields.username).empty()) {
        // A name of blanks is no name: asking for one comes before any
        // question about whose collection is chosen.
        r.messageId = IDS_NEED_USERNAME;
        r.focusControl = IDC_USERNAME;
    } else if (fields.type == 1 && feed.CollId.empty()) {
        r.messageId = IDS_NEED_COLLECTION;
        r.focusControl = IDC_USERNAME;
    }
    return r;
}

std::vector<ControlState> FeedEditorEnables(bool s, bool haveApiKey, int sortingSelection) {
    return {
        {IDC_QUERY, s},
        {IDC_GENERAL, s},
        {IDC_ANIME, s},
        {IDC_PEOPLE, s},
        {IDC_SFW, s},
        {IDC_SKETCHY, s},
        {IDC_NSFW, s && haveApiKey},
        {IDC_SORTING, s},
        {IDC_ATLEAST, s},
        {IDC_RATIOS, s},
        {IDC_TOPRANGE, s && sortingSelection == 5},
        {IDC_USERNAME, !s},
        {IDC_COLLLIST, !s},
        {IDC_LOAD, !s},
    };
}

std::string CurrentCollectionItem(const CLumoraFeed& feed) {
    return feed.CollName + " (" + feed.CollId + ")";
}

std::string LoadedCollectionItem(const CLumoraCollection& coll) {
    return coll.Label + " (" + std::to_string(coll.Count) +
           (coll.Count == 1 ? " wallpaper)" : " wallpapers)");
}

// ---- main dialog -------------------------------------------------------

std::vector<ControlState> MainDialogEnables(bool on) {
    return {{IDC_FOLDER_LABEL, on}, {IDC_FOLDER, on},   {IDC_BROWSE, on},
            {IDC_FEEDLIST, on},     {IDC_SETTINGS, on}, {IDC_ADD, on},
            {IDC_EDIT, on},         {IDC_DELETE, on},   {IDC_APIKEY, on}};
}

std::vector<FeedRow> BuildFeedRows(const CFeedArray& feeds) {
    std::vector<FeedRow> rows;
    for (const CLumoraFeed& f : feeds) rows.push_back({f.GetDescription(), f.IsEnabled()});
    return rows;
}

void SetEnabledBit(CLumoraFeed& feed, bool enabled) {
    if (enabled)
        feed.Flg |= CLumoraFeed::kEnabled;
    else
        feed.Flg &= ~CLumoraFeed::kEnabled;
}

bool IsValidSelection(int row, const CFeedArray& feeds) {
    return row >= 0 && row < feeds.GetSize();
}

int AppendNewFeed(CFeedArray& feeds, const CLumoraFeed& added) {
    int i = feeds.Add(added);
    SetEnabledBit(feeds[i], true);
    return i;
}

void ReplaceEditedFeed(CFeedArray& feeds, int row, const CLumoraFeed& edited, bool rowChecked) {
    CLumoraFeed& target = feeds[row];
    target = edited;
    SetEnabledBit(target, rowChecked);
}

void CopyChecksToFeeds(const std::vector<bool>& checks, CFeedArray& feeds) {
    for (size_t i = 0; i < checks.size() && static_cast<int>(i) < feeds.GetSize(); ++i)
        SetEnabledBit(feeds[static_cast<int>(i)], checks[i]);
}

// The C locale's white space. Every byte of a multibyte character is 0x40 or
// above, so testing bytes never cuts a character.
static bool IsWhite(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::string TrimWhiteSpace(const std::string& text) {
    size_t end = text.size();
    while (end > 0 && IsWhite(text[end - 1])) --end;
    size_t begin = 0;
    while (begin < end && IsWhite(text[begin])) ++begin;
    return text.substr(begin, end - begin);
}

RuleResult CheckImageFolder(const std::string& folder, bool (*exists)(const std::string&)) {
    RuleResult r;
    if (folder.empty())
        r.messageId = IDS_FOLDER_EMPTY;
    else if (!exists(folder))
        r.messageId = IDS_FOLDER_MISSING;
    if (!r.ok()) r.focusControl = IDC_FOLDER;
    return r;
}

std::string FormatCaption(const std::string& caption, uint32_t ms, uint32_t ls) {
    char buf[64];
    std::snprintf(buf, sizeof buf, " %d.%d.%d", static_cast<int>(ms >> 16), static_cast<int>(ms & 0xFFFF),
                  static_cast<int>(ls >> 16));
    return caption + buf;
}

std::string GreetingText(const std::string& hostName) {
    return "The Lumora PlugIn allows you to download wallpapers from " + hostName +
           "\r\nFor best results get the api key from your account settings and enter it in the API Key "
           "field";
}

// ---- Settings dialog ---------------------------------------------------

std::string FormatPrompt(const std::string& pattern, const std::vector<std::string>& args) {
    std::string out;
    for (size_t i = 0; i < pattern.size(); ++i) {
        char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
        if (pattern[i] == '%' && next >= '1' && next <= '9' &&
            static_cast<size_t>(next - '1') < args.size()) {
            out += args[static_cast<size_t>(next - '1')];
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

unsigned ParseCacheSize(const std::string& text, unsigned* value, std::string* message) {
    size_t i = 0, n = text.size();
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    size_t digits = i;
    // Digits beyond the range only need to be known as too large: saturate
    // instead of wrapping, so "4294967301" is never read as 5.
    unsigned long long v = 0;
    while (i < n && text[i] >= '0' && text[i] <= '9') {
        if (v <= kMaxCacheSize) v = v * 10 + static_cast<unsigned>(text[i] - '0');
        ++i;
    }
    bool haveDigits = i > digits;
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (!haveDigits || i != n) {
        if (message) *message = IDS_PROMPT_POSITIVE_T;
        return IDS_PROMPT_POSITIVE;
    }
    if (v < kMinCacheSize || v > kMaxCacheSize) {
        if (message)
            *message =
                FormatPrompt(IDS_PROMPT_RANGE_T, {std::to_string(static_cast<unsigned>(kMinCacheSize)),
                                                  std::to_string(static_cast<unsigned>(kMaxCacheSize))});
        return IDS_PROMPT_RANGE;
    }
    if (value) *value = static_cast<unsigned>(v);
    return 0;
}

// ---- what the dialogs keep and say -------------------------------------

int EditorFeedType(int storedType) {
    return storedType == 1 ? 1 : 0;
}

CollectionOwner::CollectionOwner(const CLumoraFeed& opened)
    : m_owner(TrimWhiteSpace(opened.Username)), m_listed(m_owner) {}

void CollectionOwner::Listed(const std::string& user) {
    m_listed = user;
}

bool CollectionOwner::Store(int selected, const CCollectionArray& listed, CLumoraFeed& feed) {
    if (feed.Type != 1) return false;
    if (selected >= 0 && selected < listed.GetSize()) {
        feed.CollId = listed[selected].Id;
        feed.CollName = listed[selected].Label;
        m_owner = m_listed;
    }
    if (feed.CollId.empty() || m_owner == feed.Username) return false;
    feed.CollId.clear();
    feed.CollName.clear();
    return true;
}

RuleResult ValidateFeed(const FeedFields& fields, const CLumoraFeed& feed, bool collectionDropped) {
    RuleResult r = ValidateFeed(fields, feed);
    if (collectionDropped && (r.ok() || r.messageId == IDS_NEED_COLLECTION)) {
        r.messageId = IDS_USER_CHANGED;
        r.focusControl = IDC_USERNAME;
    }
    return r;
}

// Errors that mean "there is no such file or folder" (file, path or drive not
// found); any other failure to look says why the folder cannot be used.
static bool IsNotFound(int error) {
    return error == 0 || error == 2 || error == 3 || error == 15;
}

RuleResult CheckUsableFolder(const std::string& folder, const FolderFacts& facts) {
    RuleResult r;
    if (folder.empty())
        r.messageId = IDS_FOLDER_EMPTY;
    else if (!facts.exists)
        r.messageId = IsNotFound(facts.probeError) ? IDS_FOLDER_MISSING : IDS_FOLDER_UNUSABLE;
    else if (!facts.isFolder)
        r.messageId = IDS_FOLDER_NOT_FOLDER;
    else if (facts.createError != 0)
        r.messageId = IDS_FOLDER_NOT_WRITABLE;
    if (!r.ok()) r.focusControl = IDC_FOLDER;
    return r;
}

static std::string Printf(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
static std::string Printf(const char* pattern, ...) {
    char buf[2048];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(buf, sizeof buf, pattern, args);
    va_end(args);
    return buf;
}

std::string FolderRuleText(const RuleResult& rule, const FolderFacts& facts, std::string (*errorText)(int)) {
    switch (rule.messageId) {
        case IDS_FOLDER_UNUSABLE:
            return Printf(IDS_FOLDER_UNUSABLE_T, errorText(facts.probeError).c_str());
        case IDS_FOLDER_NOT_WRITABLE:
            return Printf(IDS_FOLDER_NOT_WRITABLE_T, errorText(facts.createError).c_str());
        case IDS_FOLDER_NOT_FOLDER:
            return IDS_FOLDER_NOT_FOLDER_T;
        default:
            return LoadStr(rule.messageId);
    }
}

std::string CheckOkText(int total) {
    if (total == 1) return LoadStr(IDS_CHECK_OK_ONE);
    return Printf(LoadStr(IDS_CHECK_OK).c_str(), total);
}

CleanOutcome OutcomeOf(const std::string& folder, const ClearCacheResult& done,
                       std::string (*errorText)(int)) {
    CleanOutcome o = {!folder.empty(), done.deleted,      done.failed,     done.firstFailed,
                      std::string(),   done.listUnusable, done.firstError, folder};
    // A list that could not be read for no error of the system's (a damaged
    // one that could not be kept aside) has no error text of its own.
    o.reason = done.firstError ? errorText(done.firstError) : std::string(IDS_CLEAN_UNREADABLE_T);
    return o;
}

std::string CleanReport(const CleanOutcome& o) {
    if (!o.folderGiven) return IDS_CLEAN_NO_FOLDER_T;
    if (o.listUnusable) {
        // The list's error names the cause: a list missing from a folder
        // that is there is an empty cache, so "not found" means the folder.
        if (IsNotFound(o.error) && o.error != 0) return Printf(IDS_CLEAN_NO_SUCH_FOLDER_T, o.folder.c_str());
        if (o.error == 32 || o.error == 33)  // sharing or lock violation
            return Printf(IDS_CLEAN_LIST_IN_USE_T, o.firstFailed.c_str());
        return Printf(IDS_CLEAN_LIST_UNUSABLE_T, o.firstFailed.c_str(), o.reason.c_str());
    }
    if (o.failed > 0)
        return Printf(IDS_CLEAN_PARTLY_T, o.deleted, o.failed, o.firstFailed.c_str(), o.reason.c_str());
    if (o.deleted == 0) return IDS_CLEAN_NOTHING_T;
    return Printf(IDS_CLEAN_DONE_T, o.deleted);
}

std::string RequestFailureText(RequestEnd end, const std::string& clientText, int deadlineSeconds) {
    switch (end) {
        case RequestEnd::Cancelled:
            return IDS_REQUEST_CANCELLED_T;
        case RequestEnd::TimedOut:
            return Printf(IDS_REQUEST_TIMED_OUT_T, deadlineSeconds);
        case RequestEnd::Finished:
            break;
    }
    return clientText;
}

std::string CommandFailureText(int commandId, const std::string& failure) {
    const char* doing = "carry out this command";
    switch (commandId) {
        case kOkCommand:
            doing = "accept the settings of this window";
            break;
        case IDC_ADD:
            doing = "add the feed";
            break;
        case IDC_EDIT:
        case IDC_FEEDLIST:
            doing = "edit the feed";
            break;
        case IDC_DELETE:
            doing = "delete the feed";
            break;
        case IDC_BROWSE:
            doing = "choose the folder";
            break;
        case IDC_SETTINGS:
            doing = "open the Settings window";
            break;
        case IDC_LOCALCACHE:
            doing = "open the Local Cache window";
            break;
        case IDC_HELPBUTTON:
            doing = "open the help";
            break;
        case IDC_CHECK:
            doing = "check the feed with the service";
            break;
        case IDC_LOAD:
            doing = "load the collections of this user";
            break;
        case IDC_CLEAN:
            doing = "clean the local cache";
            break;
    }
    return Printf(IDS_COMMAND_FAILED_T, doing, failure.empty() ? "unknown error" : failure.c_str());
}

}  // namespace ui
