// What the module finds about itself: its file and its string table. Every
// entry of the shared string header must read back through LoadStr (the
// resource on Windows, the built-in table natively), so the two never drift.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <regex>
#include <string>

#include "platform/env.h"
#include "platform/fs.h"
#include "common/strings.h"
#include "support/read_file.h"

namespace {

// id -> text of every "#define IDS_X n" / "#define IDS_X_T "text"" pair.
std::map<unsigned, std::string> StringsFromHeader(const std::string& path) {
    std::string src = ReadFileBytes(path);
    src = std::regex_replace(src, std::regex("\\\\\\r?\\n"), " ");  // line continuations
    std::map<std::string, unsigned> ids;
    std::map<std::string, std::string> texts;
    std::smatch m;
    std::regex idRe("#define\\s+(IDS_\\w+?)\\s+(\\d+)");
    std::regex textRe("#define\\s+(IDS_\\w+)_T\\s+\"((?:[^\"\\\\]|\\\\.)*)\"");
    for (auto it = std::sregex_iterator(src.begin(), src.end(), idRe); it != std::sregex_iterator(); ++it)
        ids[(*it)[1]] = static_cast<unsigned>(std::stoul((*it)[2]));
    for (auto it = std::sregex_iterator(src.begin(), src.end(), textRe); it != std::sregex_iterator(); ++it)
        texts[(*it)[1]] = std::regex_replace((*it)[2].str(), std::regex("\\\\(.)"), "$1");
    std::map<unsigned, std::string> table;
    for (const auto& t : texts)
        if (ids.count(t.first)) table[ids[t.first]] = t.second;
    return table;
}

TEST(Module, EveryStringOfTheHeaderLoads) {
    std::string source = plat::GetEnvVar("LUMORA_SOURCE_DIR");
    if (source.empty()) source = LUMORA_TEST_SOURCE_DIR;  // run by hand
    std::map<unsigned, std::string> table = StringsFromHeader(source + "/src/common/strings.h");
    ASSERT_GE(table.size(), 20u) << "the header was not read";
    for (const auto& e : table) EXPECT_EQ(LoadStr(e.first), e.second) << "string " << e.first;
    EXPECT_EQ(LoadStr(65000), "");
}

TEST(Module, KnowsItsOwnFile) {
    std::string path = plat::ModulePath();
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(plat::PathExists(path)) << path;
    EXPECT_NE(path.find("plugin_tests"), std::string::npos) << path;
}

}  // namespace
