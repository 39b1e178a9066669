// What the configuration dialogs decide, apart from any window: the values of
// the feed editor's controls and their mapping onto a feed, the rules a feed,
// the image folder and the cache size must pass, the edits of the feed list,
// and the texts the dialogs build. The Win32 dialogs only move values between
// their controls and these functions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/records.h"
#include "common/clear_result.h"

namespace ui {

// ---- feed editor -------------------------------------------------------

// The feed editor's control values.
struct FeedFields {
    int type = 0;            // checked radio: 0 Search, 1 Collection, -1 none
    std::string query;       // as typed
    int categories[3] = {};  // General, Anime, People (1 = checked)
    int purity[3] = {};      // SFW, Sketchy, NSFW
    int sorting = 0;         // combo item index (-1 = no selection)
    int topRange = 0;        // combo item index (-1 = no selection)
    std::string atleast;     // as typed
    std::string ratios;      // as typed
    std::string username;    // as typed
};

// Box k is checked when the field has a character k and it is '1'.
void ReadFlagField(const std::string& field, int boxes[3]);
// "%d%d%d" over the boxes, each 1 when checked.
std::string FormatFlagField(const int boxes[3]);

// The controls' values for a feed (opening the editor).
FeedFields FieldsFromFeed(const CLumoraFeed& feed);
// Stores the controls' values into the feed (OK and Check): every mapped field
// except the collection, which StoreCollectionChoice sets. The user name is
// stored trimmed, as Load asked the service for it; other texts as typed.
void StoreFields(const FeedFields& fields, CLumoraFeed& feed);
// For a collection feed, a valid combo selection sets CollId/CollName from the
// matching collection; any other selection keeps both.
void StoreCollectionChoice(int selected, const CCollectionArray& collections, CLumoraFeed& feed);

// The outcome of a rule: the string table id of the message (0 = passed) and
// the control that gets the input focus with its text selected (0 = none).
struct RuleResult {
    unsigned messageId = 0;
    int focusControl = 0;
    bool ok() const { return messageId == 0; }
};

// The feed editor's rules, checked on the stored feed after StoreFields and
// StoreCollectionChoice, first failure wins.
RuleResult ValidateFeed(const FeedFields& fields, const CLumoraFeed& feed);

// Enabled state of each feed editor control, in the order the editor sets them.
struct ControlState {
    int id;
    bool enabled;
};
std::vector<ControlState> FeedEditorEnables(bool searchChecked, bool haveApiKey, int sortingSelection);

// Item texts of the Collection combo box.
std::string CurrentCollectionItem(const CLumoraFeed& feed);       // "%s (%s)"
std::string LoadedCollectionItem(const CLumoraCollection& coll);  // "%s (%d wallpapers)", "(1 wallpaper)"

// The message after a successful Check: the number of photos found.
std::string CheckOkText(int total);

// ---- main dialog -------------------------------------------------------

// Enabled state of the controls that follow the "PlugIn Enabled" box.
std::vector<ControlState> MainDialogEnables(bool pluginEnabled);

// One list row per feed: its text and its check box.
struct FeedRow {
    std::string text;
    bool checked;
};
std::vector<FeedRow> BuildFeedRows(const CFeedArray& feeds);

void SetEnabledBit(CLumoraFeed& feed, bool enabled);
// A selection the feed list commands may act on.
bool IsValidSelection(int row, const CFeedArray& feeds);
// Add with OK: the new feed is enabled and goes last; returns its index.
int AppendNewFeed(CFeedArray& feeds, const CLumoraFeed& added);
// Edit with OK: the row's current check box decides the enabled bit.
void ReplaceEditedFeed(CFeedArray& feeds, int row, const CLumoraFeed& edited, bool rowChecked);
// OK: every row's check box goes into its feed (rows beyond the feeds are ignored).
void CopyChecksToFeeds(const std::vector<bool>& checks, CFeedArray& feeds);

// White space as the dialogs trim it: trailing first, then leading.
std::string TrimWhiteSpace(const std::string& text);

// The image folder rule at OK: empty -> 148, not existing -> 150, focus on
// the folder edit. `exists` is the existence test (file or folder).
RuleResult CheckImageFolder(const std::string& folder, bool (*exists)(const std::string&));

// "%s %d.%d.%d": caption, major and minor of the most significant product
// version word, the high half of the least significant one.
std::string FormatCaption(const std::string& caption, uint32_t productVersionMS, uint32_t productVersionLS);

// The two centred lines under the enabled box.
std::string GreetingText(const std::string& hostName);

// ---- Settings dialog ---------------------------------------------------

enum : unsigned { kMinCacheSize = 5, kMaxCacheSize = 9999999 };

// Reads the cache size edit: an unsigned decimal with optional blanks/tabs
// around it. Returns 0 and sets *value, or the prompt id (61719 not a number,
// 61714 out of range) and sets *message to the prompt's text.
unsigned ParseCacheSize(const std::string& text, unsigned* value, std::string* message);

// Replaces %1, %2, ... in a prompt with the arguments.
std::string FormatPrompt(const std::string& pattern, const std::vector<std::string>& args);

// ---- Local Cache dialog ----------------------------------------------

extern const char kStatusHeading[];  // first row of the status list

// ---- what the dialogs keep and say -------------------------------------

// The radio button the feed editor checks for a stored type: a type this
// version does not know opens as a search (and OK keeps it as one) rather
// than with no button checked and a type of -1 saved.
int EditorFeedType(int storedType);

// Whose collection a collection feed holds. A collection belongs to the user
// it was listed for; pairing it with another user would ask the service for a
// collection that user does not have.
class CollectionOwner {
  public:
    // The feed the editor opens: its collection belongs to its (trimmed) user.
    explicit CollectionOwner(const CLumoraFeed& opened);
    // Load listed the collections of this trimmed user name (none when it failed).
    void Listed(const std::string& user);
    // Read-back of a collection feed after StoreFields: a valid selection
    // takes that collection; then a collection that belongs to another user
    // than feed.Username is dropped (both fields cleared). True when dropped.
    bool Store(int selected, const CCollectionArray& listed, CLumoraFeed& feed);

  private:
    std::string m_owner;   // user of the feed's CollId
    std::string m_listed;  // user whose collections the combo box holds
};

// ValidateFeed with the user rule: a dropped collection asks for a Load of
// the new user (IDS_USER_CHANGED) before the plain "select a collection".
RuleResult ValidateFeed(const FeedFields& fields, const CLumoraFeed& feed, bool collectionDropped);

// What the platform found about the image folder at OK.
struct FolderFacts {
    bool exists;  // a file or a folder of that name
    bool isFolder;
    int createError;  // 0: a file could be created in it; else the platform's error
    int probeError;   // !exists: the platform's error of looking for it (0: not known)
};
// Empty -> 148, not found -> 150, could not be looked at (access denied, an
// offline share, a path too long) -> IDS_FOLDER_UNUSABLE, a file ->
// IDS_FOLDER_NOT_FOLDER, no file can be created -> IDS_FOLDER_NOT_WRITABLE;
// focus on the folder edit.
RuleResult CheckUsableFolder(const std::string& folder, const FolderFacts& facts);
// The text of a failed folder rule, the platform's reason filled in by
// errorText (the system's message for an error code).
std::string FolderRuleText(const RuleResult& rule, const FolderFacts& facts, std::string (*errorText)(int));

// What Clean Local Cache did, for its message.
struct CleanOutcome {
    bool folderGiven;
    int deleted;
    int failed;
    std::string firstFailed;  // path of the first file that stayed
    std::string reason;       // the platform's text for its error
    bool listUnusable;        // nothing deleted: the list (firstFailed) could not be read or updated
    int error;                // the platform's error behind firstFailed (0: none known)
    std::string folder;       // the folder that was to be cleaned
};
// What the engine's clean of folder did, for its message; errorText gives
// the system's message for an error code.
CleanOutcome OutcomeOf(const std::string& folder, const ClearCacheResult& done,
                       std::string (*errorText)(int));
std::string CleanReport(const CleanOutcome& outcome);

// How a Check or Load request ended.
enum class RequestEnd { Finished, Cancelled, TimedOut };
// Bound of a whole Check or Load exchange. The client's own send and receive
// time-outs are longer, so the deadline speaks first where closing a transfer
// ends it at once.
enum : unsigned { kRequestDeadlineMs = 20000, kRequestTimeoutMs = 25000 };
// The message after a failed request: the client's text, unless the user
// gave up or the deadline did.
std::string RequestFailureText(RequestEnd end, const std::string& clientText, int deadlineSeconds);

// The message when a dialog command (a button's id, or the feed list for a
// double click) ended with an unexpected failure: what was being done, the
// failure's own text, and what to try.
enum : int { kOkCommand = 1 };  // the OK button's id
std::string CommandFailureText(int commandId, const std::string& failure);

}  // namespace ui
