// A small file-backed stand-in for the registry of the native build: one
// text file ($LUMORA_REGISTRY_FILE, else ~/.config/lumora/registry.ini) with
// a section per key and a line per value. Key and value names compare
// ignoring case, as in the registry; bytes are kept exactly (escaped).
#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace {

const char* const kRootNames[] = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_CLASSES_ROOT",
                                  "HKEY_USERS"};
const char kUnterminated[] = ":unterminated";  // suffix of a value stored without its zero
// The platform's narrow registry calls take sub-key paths of up to 260
// characters and value names of up to 16383; longer ones fail there, so
// they fail here too.
const size_t kMaxSubKey = 260;
const size_t kMaxValueName = 16383;

bool NamesFit(const char* subKey, const char* valueName) {
    return (!subKey || strlen(subKey) <= kMaxSubKey) && (!valueName || strlen(valueName) <= kMaxValueName);
}

struct Value {
    std::string name;   // "" = the key's default value
    std::string bytes;  // exactly as stored
};
struct Key {
    std::string path;  // root name, '\', sub-key
    std::vector<Value> values;
};

std::mutex g_mutex;

std::string RootName(int root) {
    return kRootNames[(root >= 0 && root <= 2) ? root : 3];
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string KeyPath(int root, const char* subKey) {
    std::string p = RootName(root);
    if (subKey && *subKey) p += std::string("\\") + subKey;
    return p;
}

std::string StoreFile() {
    const char* env = getenv("LUMORA_REGISTRY_FILE");
    if (env && *env) return env;
    const char* home = getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.config/lumora/registry.ini";
}

// Creates the folders above path (mkdir -p of its parent).
void MakeParents(const std::string& path) {
    for (size_t i = 1; i < path.size(); ++i)
        if (path[i] == '/') mkdir(path.substr(0, i).c_str(), 0700);
}

// Bytes that would break the line format are written as %HH.
std::string Escape(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c < 0x20 || c == 0x7f || c == '%' || c == '=' || c == '[' || c == ']' || c == ':') {
            char hex[4];
            snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && isxdigit(static_cast<unsigned char>(s[i + 1])) &&
            isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out += static_cast<char>(strtol(s.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<Key> Load() {
    std::vector<Key> keys;
    FILE* f = fopen(StoreFile().c_str(), "rb");
    if (!f) return keys;
    std::string line;
    int c;
    auto take = [&]() {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            keys.push_back(Key{Unescape(line.substr(1, line.size() - 2)), {}});
        } else if (!keys.empty() && !line.empty() && line[0] != ';') {
            size_t eq = line.find('=');
            if (eq != std::string::npos) {
                std::string name = line.substr(0, eq);
                std::string bytes = Unescape(line.substr(eq + 1));
                size_t sfx = sizeof kUnterminated - 1;
                bool raw = name.size() >= sfx && name.compare(name.size() - sfx, sfx, kUnterminated) == 0;
                if (raw)
                    name.resize(name.size() - sfx);
                else
                    bytes.push_back('\0');
                name = name == "@" ? std::string() : Unescape(name);
                keys.back().values.push_back(Value{name, bytes});
            }
        }
        line.clear();
    };
    while ((c = fgetc(f)) != EOF) {
        if (c == '\n')
            take();
        else
            line.push_back(static_cast<char>(c));
    }
    take();
    fclose(f);
    return keys;
}

bool Save(const std::vector<Key>& keys) {
    std::string file = StoreFile();
    MakeParents(file);
    std::string tmp = file + ".tmp";
    FILE* f = fopen(tmp.c_str(), "wb");
    if (!f) return false;
    bool ok = fputs("; Registry values of the Lumora plug-in (native build)\n", f) >= 0;
    for (const Key& k : keys) {
        ok = ok && fprintf(f, "[%s]\n", Escape(k.path).c_str()) >= 0;
        for (const Value& v : k.values) {
            bool terminated = !v.bytes.empty() && v.bytes.back() == '\0';
            std::string name = v.name.empty() ? std::string("@") : Escape(v.name);
            std::string bytes = terminated ? v.bytes.substr(0, v.bytes.size() - 1) : v.bytes;
            ok = ok && fprintf(f, "%s%s=%s\n", name.c_str(), terminated ? "" : kUnterminated,
                               Escape(bytes).c_str()) >= 0;
        }
    }
    ok = (fflush(f) == 0) && ok;
    ok = (fsync(fileno(f)) == 0) && ok;
    ok = (fclose(f) == 0) && ok;
    if (!ok || rename(tmp.c_str(), file.c_str()) != 0) {
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

Key* FindKey(std::vector<Key>& keys, const std::string& path) {
    for (Key& k : keys)
        if (SameName(k.path, path)) return &k;
    return nullptr;
}

bool SetValue(int root, const char* subKey, const char* valueName, const std::string& bytes) {
    if (!NamesFit(subKey, valueName)) return false;
    std::lock_guard<std::mutex> g(g_mutex);
    std::vector<Key> keys = Load();
    std::string path = KeyPath(root, subKey);
    Key* k = FindKey(keys, path);
    if (!k) {
        keys.push_back(Key{path, {}});
        k = &keys.back();
    }
    std::string name = valueName ? valueName : "";
    for (Value& v : k->values)
        if (SameName(v.name, name)) {
            v.bytes = bytes;
            return Save(keys);
        }
    k->values.push_back(Value{name, bytes});
    return Save(keys);
}

}  // namespace

std::string RegReadString(int root, const char* subKey, const char* valueName) {
    if (!NamesFit(subKey, valueName)) return std::string();
    std::lock_guard<std::mutex> g(g_mutex);
    std::vector<Key> keys = Load();
    Key* k = FindKey(keys, KeyPath(root, subKey));
    if (!k) return std::string();
    std::string name = valueName ? valueName : "";
    for (const Value& v : k->values)
        if (SameName(v.name, name)) return plat::RegValueText(v.bytes.data(), v.bytes.size());
    return std::string();
}

bool RegWriteString(int root, const char* subKey, const char* valueName, const char* text) {
    std::string bytes = text ? text : "";
    bytes.push_back('\0');
    return SetValue(root, subKey, valueName, bytes);
}

namespace plat {

bool RegWriteRawForTest(int root, const char* subKey, const char* valueName, const void* data, size_t size) {
    return SetValue(root, subKey, valueName, std::string(static_cast<const char*>(data), size));
}

bool RegDeleteTreeForTest(int root, const char* subKey) {
    std::lock_guard<std::mutex> g(g_mutex);
    std::vector<Key> keys = Load();
    std::string path = KeyPath(root, subKey);
    std::vector<Key> kept;
    for (Key& k : keys) {
        bool below = k.path.size() > path.size() && SameName(k.path.substr(0, path.size()), path) &&
                     k.path[path.size()] == '\\';
        if (!SameName(k.path, path) && !below) kept.push_back(k);
    }
    return Save(kept);
}

}  // namespace plat
