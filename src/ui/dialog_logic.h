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

namespace ui {

// ---- feed editor -------------------------------------------------------

// The feed editor's control values.
struct FeedFields {
    int type = 0;             // checked radio: 0 Search, 1 Collection, -1 none
    std::string query;        // as typed
    int categories[3] = {};   // General, Anime, People (1 = checked)
    int purity[3] = {};       // SFW, Sketchy, NSFW
    int sorting = 0;          // combo item index (-1 = no selection)
    int topRange = 0;         // combo item index (-1 = no selection)
    std::string atleast;      // as typed
    std::string ratios;       // as typed
    std::string username;     // as typed
};

// Box k is checked when the field has a character k and it is '1'.
void ReadFlagField(const std::string& field, int boxes[3]);
// "%d%d%d" over the boxes, each 1 when checked.
std::string FormatFlagField(const int boxes[3]);

// The controls' values for a feed (opening the editor).
FeedFields FieldsFromFeed(const CLumoraFeed& feed);
// Stores the controls' values into the feed (OK and Check): every mapped field
// except the collection, which StoreCollectionChoice sets.
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
std::string CurrentCollectionItem(const CLumoraFeed& feed);        // "%s (%s)"
std::string LoadedCollectionItem(const CLumoraCollection& coll);   // "%s (%d wallpapers)"

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

}  // namespace ui
