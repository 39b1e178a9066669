/* Texts of the configuration dialogs beyond the shared string table. Read by
   the resource compiler (through dialogs.rc) and by the dialog code, so each
   text exists once. */
#ifndef LUMORA_UI_STRINGS_H
/* The resource compiler reads these texts too: each stays one literal on one line. */
/* clang-format off */
#define LUMORA_UI_STRINGS_H

/* Image folder rule at OK. */
#define IDS_FOLDER_NOT_FOLDER 220
#define IDS_FOLDER_NOT_FOLDER_T \
    "The image folder names a file, not a folder. Please enter the name of an existing folder complete with path name."
#define IDS_FOLDER_NOT_WRITABLE 221
#define IDS_FOLDER_NOT_WRITABLE_T \
    "Lumora cannot create files in this folder (%s). Please choose a folder you are allowed to write to."
#define IDS_FOLDER_UNUSABLE 234
#define IDS_FOLDER_UNUSABLE_T \
    "The image folder cannot be used: %s. Make sure the drive or network share is connected and that you may open the folder, or choose another folder."

/* Feed editor. */
#define IDS_USER_CHANGED 222
#define IDS_USER_CHANGED_T \
    "The selected collection belongs to another user. Press Load to list the collections of this user, then choose one."
#define IDS_REQUEST_CANCELLED 223
#define IDS_REQUEST_CANCELLED_T "The request was cancelled."
#define IDS_REQUEST_TIMED_OUT 224
#define IDS_REQUEST_TIMED_OUT_T \
    "The service did not answer within %d seconds. Check the connection to the internet and try again later."
#define IDS_WAIT_ASKING 225
#define IDS_WAIT_ASKING_T "Waiting for the service's answer..."
#define IDS_WAIT_CANCELLING 226
#define IDS_WAIT_CANCELLING_T "Cancelling the request..."

/* Clean Local Cache. */
#define IDS_CLEAN_NO_FOLDER 227
#define IDS_CLEAN_NO_FOLDER_T "No image folder is entered, so there is no cache to clean. Enter the image folder first."
#define IDS_CLEAN_NOTHING 228
#define IDS_CLEAN_NOTHING_T "The cache of this folder holds no files: nothing was deleted."
#define IDS_CLEAN_DONE 229
#define IDS_CLEAN_DONE_T "All cached files have been deleted. Files deleted: %d."
#define IDS_CLEAN_PARTLY 230
#define IDS_CLEAN_PARTLY_T                                                                                     \
    "Not every cached file could be deleted. Files deleted: %d. Files that stayed: %d.\r\n\r\nThe first one: %s\r\n" \
    "Reason: %s\r\n\r\nClose programs that may be showing these files, make sure you may change the folder, then " \
    "clean again."

#define IDS_CLEAN_LIST_UNUSABLE 232
#define IDS_CLEAN_LIST_UNUSABLE_T                                                                        \
    "Nothing was deleted: Lumora could not use its list of cached files, %s (%s).\r\n\r\nMake sure you " \
    "may change the folder and that the disk is not full, then clean again."

#define IDS_CLEAN_UNREADABLE 233
#define IDS_CLEAN_UNREADABLE_T "it cannot be read"
#define IDS_CLEAN_NO_SUCH_FOLDER 235
#define IDS_CLEAN_NO_SUCH_FOLDER_T                                                                         \
    "Nothing was deleted: the folder %s does not exist.\r\n\r\nCheck the name of the folder (a typing " \
    "error?) or connect the drive it is on, then clean again."
#define IDS_CLEAN_LIST_IN_USE 236
#define IDS_CLEAN_LIST_IN_USE_T                                                                       \
    "Nothing was deleted: another program is using the list of cached files, %s.\r\n\r\nClose that " \
    "program, then clean again."

/* A dialog that fails while it opens. */
#define IDS_DIALOG_FAILED 231
#define IDS_DIALOG_FAILED_T "The window could not be opened: %s"
/* A command that fails unexpectedly: what was being done, why, what to try. */
#define IDS_COMMAND_FAILED 237
#define IDS_COMMAND_FAILED_T                                                                            \
    "Lumora could not %s: %s.\r\n\r\nThe window stays open: try again. If it fails again, close the " \
    "window and open it again; the host's log has the details."

/* clang-format on */
#endif
