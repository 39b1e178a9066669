// The cache size, API key, image folder and caption rules of the dialogs.
#include <gtest/gtest.h>

#include <string>

#include "common/strings.h"
#include "ui/dialog_logic.h"
#include "ui/resource.h"

namespace {

const char kRange[] = "Enter an integer between 5 and 9999999.";
const char kPositive[] = "Enter a positive integer.";

TEST(CacheSize, AcceptedAndRefusedTexts) {
    struct {
        const char* text;
        unsigned id;
        unsigned value;  // when accepted
        const char* message;
    } cases[] = {
        {"5", 0, 5, ""},
        {"9999999", 0, 9999999, ""},
        {"100", 0, 100, ""},
        {" 42 ", 0, 42, ""},
        {"\t42\t", 0, 42, ""},
        {" \t 17", 0, 17, ""},
        {"0005", 0, 5, ""},
        {"4", IDS_PROMPT_RANGE, 0, kRange},
        {"0", IDS_PROMPT_RANGE, 0, kRange},
        {"10000000", IDS_PROMPT_RANGE, 0, kRange},
        // Too large for 32 bits: still out of range, never wrapped to a small value.
        {"4294967301", IDS_PROMPT_RANGE, 0, kRange},
        {"99999999999999999999999999", IDS_PROMPT_RANGE, 0, kRange},
        {"12a", IDS_PROMPT_POSITIVE, 0, kPositive},
        {"-3", IDS_PROMPT_POSITIVE, 0, kPositive},
        {"+3", IDS_PROMPT_POSITIVE, 0, kPositive},
        {"", IDS_PROMPT_POSITIVE, 0, kPositive},
        {"   ", IDS_PROMPT_POSITIVE, 0, kPositive},
        {"1 2", IDS_PROMPT_POSITIVE, 0, kPositive},
        {"1e3", IDS_PROMPT_POSITIVE, 0, kPositive},
        {"0x10", IDS_PROMPT_POSITIVE, 0, kPositive},
        {"42\n", IDS_PROMPT_POSITIVE, 0, kPositive},
    };
    for (const auto& c : cases) {
        unsigned value = 12345;
        std::string message = "untouched";
        unsigned id = ui::ParseCacheSize(c.text, &value, &message);
        EXPECT_EQ(id, c.id) << '"' << c.text << '"';
        if (c.id == 0) {
            EXPECT_EQ(value, c.value) << '"' << c.text << '"';
            EXPECT_EQ(message, "untouched");
        } else {
            EXPECT_EQ(value, 12345u) << '"' << c.text << '"';
            EXPECT_EQ(message, c.message) << '"' << c.text << '"';
        }
    }
}

TEST(Prompt, FillsNumberedArguments) {
    struct {
        const char* pattern;
        const char* expected;
    } cases[] = {
        {"Enter an integer between %1 and %2.", "Enter an integer between low and high."},
        {"%2 before %1", "high before low"},
        {"%3 has no argument", "%3 has no argument"},
        {"100% sure %", "100% sure %"},
        {"%%1", "%low"},
    };
    for (const auto& c : cases) EXPECT_EQ(ui::FormatPrompt(c.pattern, {"low", "high"}), c.expected);
}

TEST(Trim, TrailingThenLeadingWhiteSpace) {
    struct {
        const char* text;
        const char* expected;
    } cases[] = {
        {"key", "key"},
        {"  key  ", "key"},
        {"\t key\r\n", "key"},
        {"\v\fkey", "key"},
        {"a b", "a b"},
        {"", ""},
        {" \t\r\n ", ""},
        // Bytes of ANSI letters (here c\xe9) are never white space.
        {" caf\xe9\xa0", "caf\xe9\xa0"},
        {"\xa0x ", "\xa0x"},
    };
    for (const auto& c : cases) EXPECT_EQ(ui::TrimWhiteSpace(c.text), c.expected) << '"' << c.text << '"';
}

std::string g_existing;
bool FakeExists(const std::string& p) {
    return p == g_existing;
}

TEST(ImageFolder, EmptyThenMissing) {
    g_existing = "C:\\Pictures";
    struct {
        const char* folder;
        unsigned id;
    } cases[] = {
        {"", IDS_FOLDER_EMPTY},
        {"C:\\Missing", IDS_FOLDER_MISSING},
        {" ", IDS_FOLDER_MISSING},
        {"C:\\Pictures", 0},
    };
    for (const auto& c : cases) {
        ui::RuleResult r = ui::CheckImageFolder(c.folder, &FakeExists);
        EXPECT_EQ(r.messageId, c.id) << c.folder;
        EXPECT_EQ(r.focusControl, c.id ? IDC_FOLDER : 0) << c.folder;
    }
}

TEST(Caption, ThreeVersionNumbers) {
    struct {
        uint32_t ms, ls;
        const char* expected;
    } cases[] = {
        {0x00020001, 0x00000007, "Lumora 2.1.0"},
        {0x00010000, 0x00000000, "Lumora 1.0.0"},
        {0x00010002, 0x00030004, "Lumora 1.2.3"},
        {0xFFFFFFFF, 0xFFFF0000, "Lumora 65535.65535.65535"},
    };
    for (const auto& c : cases) EXPECT_EQ(ui::FormatCaption("Lumora", c.ms, c.ls), c.expected);
}

TEST(Greeting, HostNameEndsTheFirstLine) {
    const std::string text = ui::GreetingText("service.example");
    const size_t br = text.find("\r\n");
    ASSERT_NE(br, std::string::npos);
    EXPECT_EQ(text.substr(0, br), "The Lumora PlugIn allows you to download wallpapers from service.example");
    EXPECT_EQ(
        text.substr(br + 2),
        "For best results get the api key from your account settings and enter it in the API Key field");
}

}  // namespace
