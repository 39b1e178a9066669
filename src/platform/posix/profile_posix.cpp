// A direct private-profile writer for systems without one. It lays a file
// out as the Windows writer does: blank lines dropped, "key=value" with the
// blanks around key and value trimmed, new keys at the end of their section,
// new sections at the end of the file, the encoding of the existing file
// kept (UTF-16LE with its mark, else the narrow code page), CR LF line ends.
#include <cstdio>
#include <vector>

#include "platform/codepage.h"
#include "platform/profile.h"

namespace plat {

namespace {

struct Key {
    std::u16string name;
    std::u16string value;
    bool hasValue;
};
struct Section {
    std::u16string name;  // empty for lines before the first section header
    std::vector<Key> keys;
};

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\f' || c == u'\v';
}

std::u16string Trim(const std::u16string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

char16_t Fold(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}

bool SameName(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Fold(a[i]) != Fold(b[i])) return false;
    return true;
}

// UTF-16 back to UTF-8, the native narrow code page.
std::string ToUtf8(const std::u16string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t cp = s[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[++i] - 0xDC00);
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

void Parse(const std::u16string& text, std::vector<Section>* sections) {
    sections->push_back(Section());
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(u'\n', pos);
        if (end == std::u16string::npos) end = text.size();
        std::u16string line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty()) continue;
        if (line[0] == u'[') {
            size_t close = line.find(u']');
            std::u16string name =
                line.substr(1, close == std::u16string::npos ? std::u16string::npos : close - 1);
            Section s;
            s.name = Trim(name);
            sections->push_back(s);
            continue;
        }
        Key k;
        size_t eq = line.find(u'=');
        k.hasValue = eq != std::u16string::npos;
        k.name = Trim(line.substr(0, eq));
        if (k.hasValue) k.value = Trim(line.substr(eq + 1));
        sections->back().keys.push_back(k);
    }
}

}  // namespace

bool WriteProfileKey(const std::string& path, const std::u16string& section, const std::u16string& key,
                     const std::u16string& value) {
    std::string raw;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) raw.append(buf, n);
        std::fclose(f);
    }
    bool utf16 = raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF &&
                 static_cast<unsigned char>(raw[1]) == 0xFE;
    std::u16string text;
    if (utf16) {
        for (size_t i = 2; i + 1 < raw.size(); i += 2)
            text.push_back(static_cast<char16_t>(static_cast<unsigned char>(raw[i]) |
                                                 (static_cast<unsigned char>(raw[i + 1]) << 8)));
    } else {
        text = AnsiToUtf16(raw);
    }

    std::vector<Section> sections;
    Parse(text, &sections);

    std::u16string sectionName = Trim(section), keyName = Trim(key);
    // The writer drops the blanks a value starts with.
    size_t skip = 0;
    while (skip < value.size() && IsBlank(value[skip])) ++skip;
    std::u16string newValue = value.substr(skip);

    Section* target = nullptr;
    for (size_t i = 1; i < sections.size(); ++i)
        if (SameName(sections[i].name, sectionName)) {
            target = &sections[i];
            break;
        }
    if (!target) {
        Section s;
        s.name = sectionName;
        sections.push_back(s);
        target = &sections.back();
    }
    bool replaced = false;
    for (Key& k : target->keys)
        if (SameName(k.name, keyName)) {
            k.value = newValue;
            k.hasValue = true;
            replaced = true;
            break;
        }
    if (!replaced) target->keys.push_back(Key{keyName, newValue, true});

    std::u16string out;
    for (const Section& s : sections) {
        if (!s.name.empty()) out += u"[" + s.name + u"]\r\n";
        for (const Key& k : s.keys) {
            out += k.name;
            if (k.hasValue) out += u"=" + k.value;
            out += u"\r\n";
        }
    }

    std::string bytes;
    if (utf16) {
        bytes.reserve(2 + out.size() * 2);
        bytes += '\xFF';
        bytes += '\xFE';
        for (char16_t c : out) {
            bytes += static_cast<char>(c & 0xFF);
            bytes += static_cast<char>(c >> 8);
        }
    } else {
        bytes = ToUtf8(out);
    }
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    return ok;
}

}  // namespace plat
