// The native registry stand-in keeps its values in the file named by
// LUMORA_REGISTRY_FILE (set for this test program by its CMake file).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/registry.h"
#include "common/settings_store.h"
#include "support/read_file.h"

namespace {

TEST(RegistryFile, ValuesLiveInTheConfiguredFile) {
    const char* file = getenv("LUMORA_REGISTRY_FILE");
    ASSERT_TRUE(file && *file) << "the test needs LUMORA_REGISTRY_FILE";
    plat::RegDeleteTreeForTest(1, "Software\\LumoraFileTest");
    ASSERT_TRUE(RegWriteString(1, "Software\\LumoraFileTest", "ApiKey", "in-the-file"));
    std::string text = ReadFileBytes(file);
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\LumoraFileTest]"), std::string::npos) << text;
    EXPECT_NE(text.find("ApiKey=in-the-file"), std::string::npos) << text;
    plat::RegDeleteTreeForTest(1, "Software\\LumoraFileTest");
    EXPECT_EQ(ReadFileBytes(file).find("LumoraFileTest"), std::string::npos);
    EXPECT_EQ(RegReadString(1, "Software\\LumoraFileTest", "ApiKey"), "");
}

}  // namespace
