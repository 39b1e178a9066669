#include "ini.h"

#include <cctype>
#include <cstdio>

#include "host_platform.h"

namespace {

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(b, e - b);
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Values with blanks at either end, or wrapped in quotes themselves, are
// written quoted so that they read back unchanged.
std::string FormatValue(std::string v) {
    bool lineBreak = false;
    for (char& c : v)
        if (c == '\r' || c == '\n') {
            c = ' ';
            lineBreak = true;
        }
    if (lineBreak) fprintf(stderr, "vdthost: a line break in a value was stored as a space\n");
    bool quote = !v.empty() && (v.front() == ' ' || v.front() == '\t' || v.back() == ' ' ||
                                v.back() == '\t' || (v.size() >= 2 && v.front() == '"' && v.back() == '"'));
    return quote ? "\"" + v + "\"" : v;
}

std::string ParseValue(const std::string& raw) {
    std::string v = Trim(raw);
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    return v;
}

}  // namespace

bool IniFile::Load(const std::string& path) {
    m_path = path;
    m_sections.assign(1, Section());
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return !HostFileExists(path);
    std::string line;
    auto take = [&](bool last) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (last && line.empty()) return;
        std::string t = Trim(line);
        size_t close = t.find(']');
        if (!t.empty() && t[0] == '[' && close != std::string::npos) {
            Section s;
            s.name = Trim(t.substr(1, close - 1));
            s.header = true;
            m_sections.push_back(s);
        } else {
            Line l;
            l.text = line;
            size_t eq = t.find('=');
            if (!t.empty() && t[0] != ';' && t[0] != '#' && eq != std::string::npos && eq > 0)
                l.key = Trim(t.substr(0, eq));
            m_sections.back().lines.push_back(l);
        }
        line.clear();
    };
    int c;
    while ((c = fgetc(f)) != EOF) {
        if (c == '\n')
            take(false);
        else
            line.push_back(static_cast<char>(c));
    }
    take(true);
    bool ok = !ferror(f);
    fclose(f);
    return ok;
}

IniFile::Section* IniFile::FindSection(const std::string& name) {
    for (Section& s : m_sections)
        if (s.header && SameName(s.name, name)) return &s;
    return nullptr;
}

const IniFile::Section* IniFile::FindSection(const std::string& name) const {
    for (const Section& s : m_sections)
        if (s.header && SameName(s.name, name)) return &s;
    return nullptr;
}

bool IniFile::Get(const std::string& section, const std::string& key, std::string* value) const {
    const Section* s = FindSection(section);
    if (!s) return false;
    for (const Line& l : s->lines)
        if (!l.key.empty() && SameName(l.key, key)) {
            *value = ParseValue(l.text.substr(l.text.find('=') + 1));
            return true;
        }
    return false;
}

std::vector<std::string> IniFile::Keys(const std::string& section) const {
    std::vector<std::string> keys;
    if (const Section* s = FindSection(section))
        for (const Line& l : s->lines)
            if (!l.key.empty()) keys.push_back(l.key);
    return keys;
}

bool IniFile::Set(const std::string& section, const std::string& key, const std::string& value) {
    Section* s = FindSection(section);
    if (!s) {
        // A blank line between sections, as people write them.
        Section& prev = m_sections.back();
        if (!prev.lines.empty() || prev.header)
            if (prev.lines.empty() || !Trim(prev.lines.back().text).empty()) prev.lines.push_back(Line());
        Section n;
        n.name = section;
        n.header = true;
        m_sections.push_back(n);
        s = &m_sections.back();
    }
    for (Line& l : s->lines)
        if (!l.key.empty() && SameName(l.key, key)) {
            l.text = l.key + "=" + FormatValue(value);
            return Save();
        }
    // After the last key line, so trailing blank lines stay between sections.
    size_t at = s->lines.size();
    while (at > 0 && Trim(s->lines[at - 1].text).empty()) --at;
    Line l;
    l.key = key;
    l.text = key + "=" + FormatValue(value);
    s->lines.insert(s->lines.begin() + static_cast<long>(at), l);
    return Save();
}

bool IniFile::Save() const {
    std::string tmp = m_path + ".tmp";
    FILE* f = fopen(tmp.c_str(), "wb");
    if (!f) return false;
    // Whole strings, not C strings: a NUL inside a line must not cut off
    // the rest of it, or every write of a setting would lose data.
    std::string text;
    for (const Section& s : m_sections) {
        if (s.header) text += "[" + s.name + "]\r\n";
        for (const Line& l : s.lines) text += l.text + "\r\n";
    }
    bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = (fflush(f) == 0) && ok;
    ok = (fclose(f) == 0) && ok;
    if (!ok || !HostReplaceFile(tmp, m_path)) {
        remove(tmp.c_str());
        return false;
    }
    return true;
}
