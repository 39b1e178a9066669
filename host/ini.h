// A plain INI file as the stand-in host's settings store: sections and keys
// compare ignoring (ASCII) case, new keys go after the last key of their
// section, comments and unknown lines are kept, and every change is written
// at once through a temporary file.
#pragma once

#include <string>
#include <vector>

class IniFile {
  public:
    // Reads path; a missing file is an empty store. False when it cannot be read.
    bool Load(const std::string& path);
    // The stored value (surrounding blanks and one pair of double quotes removed).
    bool Get(const std::string& section, const std::string& key, std::string* value) const;
    // Stores the value and rewrites the file. False when the file cannot be written.
    bool Set(const std::string& section, const std::string& key, const std::string& value);
    // Keys of a section in file order (tests, diagnostics).
    std::vector<std::string> Keys(const std::string& section) const;

  private:
    struct Line {
        std::string text;  // as written
        std::string key;   // empty unless a key line
    };
    struct Section {
        std::string name;  // empty for the lines before the first section
        bool header = false;
        std::vector<Line> lines;
    };
    Section* FindSection(const std::string& name);
    const Section* FindSection(const std::string& name) const;
    bool Save() const;

    std::string m_path;
    std::vector<Section> m_sections;
};
