/* String table of the module. Shared by the resource script (windres runs the
   C preprocessor over it) and the C++ code, so each text exists once. */
#ifndef LUMORA_STRINGS_H
/* The resource compiler reads these texts too: each stays one literal on one line. */
/* clang-format off */
#define LUMORA_STRINGS_H

#define IDS_QS_WRONG_URL 1
#define IDS_QS_WRONG_URL_T "QueryServer: Wrong URL format"
#define IDS_QS_OPEN_FAILED 2
#define IDS_QS_OPEN_FAILED_T "QueryServer: OpenRequest failed"
#define IDS_QS_SEND_FAILED 3
#define IDS_QS_SEND_FAILED_T "QueryServer: SendRequest failed"
#define IDS_QS_HTTP_ERROR 4
#define IDS_QS_HTTP_ERROR_T "QueryServer: HTTP Error %d"
#define IDS_QS_GENERIC_ERROR 5
#define IDS_QS_GENERIC_ERROR_T "QueryServer: Generic Error %d"
#define IDS_QS_UNKNOWN_EXC 6
#define IDS_QS_UNKNOWN_EXC_T "QueryServer: Unknown Exception"
#define IDS_QS_EMPTY_ANSWER 31
#define IDS_QS_EMPTY_ANSWER_T "Server returned an empty or unrecognized answer"
#define IDS_QS_UNREADABLE_ANSWER 32
#define IDS_QS_UNREADABLE_ANSWER_T "The service sent an answer that cannot be read. Please try again later."

#define IDS_FEED_COLUMN 10
#define IDS_FEED_COLUMN_T "Feed"
#define IDS_NO_SELECTION 11
#define IDS_NO_SELECTION_T "No item selected. Please select an item in the list then try the command again."
#define IDS_CHECK_OK 15
#define IDS_CHECK_OK_T "The query executed successfully and returned a total of %d photos"
#define IDS_CHECK_OK_ONE 16
#define IDS_CHECK_OK_ONE_T "The query executed successfully and returned a total of 1 photo"
#define IDS_CACHE_CLEANED 48
#define IDS_CACHE_CLEANED_T "All cached files have been deleted"
#define IDS_FOLDER_EMPTY 148
#define IDS_FOLDER_EMPTY_T \
    "Destination folder for downloaded item is empty. Please enter the name of an existing folder complete with path name."
#define IDS_FOLDER_MISSING 150
#define IDS_FOLDER_MISSING_T "Configured folder doesn't exist, please enter the name of an existing folder"
#define IDS_SELECT_FOLDER 282
#define IDS_SELECT_FOLDER_T "Select Folder"

/* Feed editor messages. */
#define IDS_NEED_CATEGORY 200
#define IDS_NEED_CATEGORY_T "Please select at least one category."
#define IDS_NEED_PURITY 201
#define IDS_NEED_PURITY_T "Please select at least one purity level."
#define IDS_NEED_USERNAME 202
#define IDS_NEED_USERNAME_T "Please enter a username."
#define IDS_NEED_COLLECTION 203
#define IDS_NEED_COLLECTION_T "Please select a collection. Use the Load button to load collections from the user."
#define IDS_NEED_USERNAME_FIRST 204
#define IDS_NEED_USERNAME_FIRST_T "Please enter a username first."
#define IDS_NO_COLLECTIONS 205
#define IDS_NO_COLLECTIONS_T "No public collections found for this user."

/* Prompts of the numeric input rules. */
#define IDS_PROMPT_RANGE 61714
#define IDS_PROMPT_RANGE_T "Enter an integer between %1 and %2."
#define IDS_PROMPT_POSITIVE 61719
#define IDS_PROMPT_POSITIVE_T "Enter a positive integer."

#ifdef __cplusplus
#include <string>
/* The text of a string table entry (the module's resource on Windows). */
std::string LoadStr(unsigned id);
#endif

/* clang-format on */
#endif
