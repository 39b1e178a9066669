#include "common/strings.h"

#include "platform/module.h"

// The texts the module's string table carries, for builds and programs that
// have no such resource (the native build, test programs).
static std::string BuiltInString(unsigned id) {
    switch (id) {
#define LUMORA_STR(name) \
    case name:           \
        return name##_T;
        LUMORA_STR(IDS_QS_WRONG_URL)
        LUMORA_STR(IDS_QS_OPEN_FAILED)
        LUMORA_STR(IDS_QS_SEND_FAILED)
        LUMORA_STR(IDS_QS_HTTP_ERROR)
        LUMORA_STR(IDS_QS_GENERIC_ERROR)
        LUMORA_STR(IDS_QS_UNKNOWN_EXC)
        LUMORA_STR(IDS_QS_EMPTY_ANSWER)
        LUMORA_STR(IDS_QS_UNREADABLE_ANSWER)
        LUMORA_STR(IDS_FEED_COLUMN)
        LUMORA_STR(IDS_NO_SELECTION)
        LUMORA_STR(IDS_CHECK_OK)
        LUMORA_STR(IDS_CHECK_OK_ONE)
        LUMORA_STR(IDS_CACHE_CLEANED)
        LUMORA_STR(IDS_FOLDER_EMPTY)
        LUMORA_STR(IDS_FOLDER_MISSING)
        LUMORA_STR(IDS_SELECT_FOLDER)
        LUMORA_STR(IDS_NEED_CATEGORY)
        LUMORA_STR(IDS_NEED_PURITY)
        LUMORA_STR(IDS_NEED_USERNAME)
        LUMORA_STR(IDS_NEED_COLLECTION)
        LUMORA_STR(IDS_NEED_USERNAME_FIRST)
        LUMORA_STR(IDS_NO_COLLECTIONS)
        LUMORA_STR(IDS_PROMPT_RANGE)
        LUMORA_STR(IDS_PROMPT_POSITIVE)
#undef LUMORA_STR
        default:
            return std::string();
    }
}

std::string LoadStr(unsigned id) {
    std::string text;
    if (plat::LoadResourceString(id, text)) return text;
    return BuiltInString(id);
}
