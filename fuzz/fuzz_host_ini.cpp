// The stand-in host's settings file: whatever it holds, storing one value
// keeps every value that could be read before, and the stored value reads
// back unchanged after the file is loaded again.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>

#include <unistd.h>

#include "fuzz/fuzz_check.h"
#include "ini.h"

namespace fs = std::filesystem;

namespace {

// Section names as the reader sees them: "[name]" at the start of a line.
std::map<std::string, std::map<std::string, std::string>> Snapshot(const IniFile& ini,
                                                                   const std::string& text) {
    std::map<std::string, std::map<std::string, std::string>> out;
    size_t pos = 0;
    std::vector<std::string> names{""};
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        size_t b = line.find_first_not_of(" \t");
        if (b != std::string::npos && line[b] == '[' && line.find(']', b) != std::string::npos) {
            std::string name = line.substr(b + 1, line.find(']', b) - b - 1);
            size_t s = name.find_first_not_of(" \t"), e = name.find_last_not_of(" \t");
            names.push_back(s == std::string::npos ? std::string() : name.substr(s, e - s + 1));
        }
        pos = end + 1;
    }
    for (const std::string& section : names) {
        std::string folded;
        for (char c : section) folded += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (const std::string& key : ini.Keys(section)) {
            std::string kf, value;
            for (char c : key) kf += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (ini.Get(section, key, &value)) out[folded].emplace(kf, value);
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path =
        (fs::temp_directory_path() / ("lumora_fuzz_ini_" + std::to_string(::getpid()) + ".ini")).string();
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    IniFile ini;
    FUZZ_CHECK(ini.Load(path), "an existing file did not load");
    auto before = Snapshot(ini, text);

    // A value the plug-in might store: any bytes but line breaks and NUL.
    std::string value = text.substr(0, text.size() < 40 ? text.size() : 40);
    for (char& c : value)
        if (c == '\r' || c == '\n' || c == '\0') c = '_';
    FUZZ_CHECK(ini.Set("LumoraPlugIn", "Feed0_Query", value), "Set failed");

    IniFile again;
    FUZZ_CHECK(again.Load(path), "the written file did not load");
    std::string got;
    FUZZ_CHECK(again.Get("LumoraPlugIn", "Feed0_Query", &got) && got == value,
               FuzzShow(value) + " read back as " + FuzzShow(got));
    std::string written;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) written.append(buf, n);
        std::fclose(f);
    }
    auto after = Snapshot(again, written);
    for (const auto& section : before)
        for (const auto& kv : section.second) {
            if (section.first == "lumoraplugin" && kv.first == "feed0_query") continue;
            auto s = after.find(section.first);
            FUZZ_CHECK(
                s != after.end() && s->second.count(kv.first) && s->second.at(kv.first) == kv.second,
                "[" + FuzzShow(section.first) + "] " + FuzzShow(kv.first) + " was " + FuzzShow(kv.second));
        }
    std::error_code ec;
    fs::remove(path, ec);
    return 0;
}
