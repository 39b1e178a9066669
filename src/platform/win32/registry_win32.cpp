// The current user's (or another root's) registry through the ANSI API.
#include <windows.h>

#include <string>

#include "platform/registry.h"

namespace {

HKEY RootKey(int root) {
    switch (root) {
        case 0:
            return HKEY_LOCAL_MACHINE;
        case 1:
            return HKEY_CURRENT_USER;
        case 2:
            return HKEY_CLASSES_ROOT;
        default:
            return HKEY_USERS;
    }
}

}  // namespace

std::string RegReadString(int root, const char* subKey, const char* valueName) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(RootKey(root), subKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return std::string();
    char buf[plat::kRegValueBuffer];
    DWORD size = sizeof buf;
    DWORD type = 0;
    // A value longer than the buffer fails with ERROR_MORE_DATA and reads as empty.
    LONG rc = RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return std::string();
    // Only text values can hold a key; a number or binary value is not one.
    if (type != REG_SZ && type != REG_EXPAND_SZ) return std::string();
    return plat::RegValueText(buf, size);
}

bool RegWriteString(int root, const char* subKey, const char* valueName, const char* text) {
    if (!text) text = "";
    if (!valueName) return RegSetValueA(RootKey(root), subKey, REG_SZ, text, lstrlenA(text)) == ERROR_SUCCESS;
    HKEY key = nullptr;
    if (RegCreateKeyA(RootKey(root), subKey, &key) != ERROR_SUCCESS) return false;
    LONG set = RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                              static_cast<DWORD>(lstrlenA(text) + 1));
    LONG close = RegCloseKey(key);
    return set == ERROR_SUCCESS && close == ERROR_SUCCESS;
}

namespace plat {

bool RegWriteRawForTest(int root, const char* subKey, const char* valueName, const void* data, size_t size) {
    HKEY key = nullptr;
    if (RegCreateKeyA(RootKey(root), subKey, &key) != ERROR_SUCCESS) return false;
    LONG set =
        RegSetValueExA(key, valueName, 0, REG_SZ, static_cast<const BYTE*>(data), static_cast<DWORD>(size));
    RegCloseKey(key);
    return set == ERROR_SUCCESS;
}

bool RegDeleteTreeForTest(int root, const char* subKey) {
    LONG rc = RegDeleteTreeA(RootKey(root), subKey);
    RegDeleteKeyA(RootKey(root), subKey);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

}  // namespace plat
