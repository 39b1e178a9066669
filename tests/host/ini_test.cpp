// The stand-in host's settings file: storing one value keeps every value that
// could be read before, byte for byte, whatever the file held (cases found by
// the fuzz target of this reader are rows here).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "ini.h"

namespace {

using namespace std::string_literals;

std::string TempIni() {
    return (std::filesystem::temp_directory_path() / "lumora_host_ini_test.ini").string();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

TEST(HostIni, StoringOneValueKeepsEveryOther) {
    struct Row {
        std::string text;
        std::vector<std::vector<std::string>> kept;  // section, key, value readable before and after
    } rows[] = {
        {"[LumoraPlugIn]\r\nEnabled=1\r\nImgFolder=Z:\\tmp\\img\r\n[Settings]\r\nRebuildList=1\r\n",
         {{"LumoraPlugIn", "Enabled", "1"}, {"Settings", "RebuildList", "1"}}},
        {"x=before\n[a]\n  key = \" spaced \" \n", {{"a", "key", " spaced "}}},
        // A NUL in a value, a key or a section name was cut off at the next write.
        {"[a]\nk=v\0tail\n"s, {{"a", "k", "v\0tail"s}}},
        {"[a]\nk\0x=1\n"s, {{"a", "k\0x"s, "1"}}},
        {"[s\0t]\nk=2\n"s, {{"s\0t"s, "k", "2"}}},
        {"[a]\nk=1", {{"a", "k", "1"}}},  // no line break at the end
        {"[a]\nk=a\rb\n", {{"a", "k", "a\rb"}}},
    };
    const std::string path = TempIni();
    for (const Row& r : rows) {
        WriteFile(path, r.text);
        IniFile ini;
        ASSERT_TRUE(ini.Load(path));
        std::string value;
        for (const auto& k : r.kept) {
            ASSERT_TRUE(ini.Get(k[0], k[1], &value)) << k[1];
            EXPECT_EQ(value, k[2]);
        }
        ASSERT_TRUE(ini.Set("LumoraPlugIn", "Feed0_Query", "mountains"));
        IniFile again;
        ASSERT_TRUE(again.Load(path));
        ASSERT_TRUE(again.Get("LumoraPlugIn", "Feed0_Query", &value));
        EXPECT_EQ(value, "mountains");
        for (const auto& k : r.kept) {
            EXPECT_TRUE(again.Get(k[0], k[1], &value)) << k[1];
            EXPECT_EQ(value, k[2]) << k[1];
        }
    }
    std::remove(path.c_str());
}

}  // namespace
