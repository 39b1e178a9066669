// One text value in the current user's registry: the real registry on
// Windows (under wine in the tests), the file-backed stand-in natively. Both
// must give the same answers.
#include <gtest/gtest.h>

#include <string>

#include "platform/registry.h"
#include "common/settings_store.h"

namespace {

const char kTestRoot[] = "Software\\LumoraTests";
const char kKey[] = "Software\\LumoraTests\\plugin";
const int kUser = 1;

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override { plat::RegDeleteTreeForTest(kUser, kTestRoot); }
    void TearDown() override { plat::RegDeleteTreeForTest(kUser, kTestRoot); }
};

struct ValueCase {
    const char* name;
    std::string written;
    std::string read;
};

void PrintTo(const ValueCase& c, std::ostream* os) {
    *os << c.name;
}

class RegistryValues : public RegistryTest, public ::testing::WithParamInterface<ValueCase> {};

TEST_P(RegistryValues, ReadsBackWhatFitsTheBufferAndNothingElse) {
    const ValueCase& c = GetParam();
    ASSERT_TRUE(RegWriteString(kUser, kKey, "ApiKey", c.written.c_str()));
    EXPECT_EQ(RegReadString(kUser, kKey, "ApiKey"), c.read);
}

INSTANTIATE_TEST_SUITE_P(
    Values, RegistryValues,
    ::testing::Values(ValueCase{"Empty", "", ""}, ValueCase{"Plain", "0123abcdEF", "0123abcdEF"},
                      ValueCase{"Punctuation", "k=v; [x]\\y:z \"q\" 100%41", "k=v; [x]\\y:z \"q\" 100%41"},
                      ValueCase{"LineBreaks", "one\ntwo\r\n", "one\ntwo\r\n"},
                      ValueCase{"Longest", std::string(511, 'k'), std::string(511, 'k')},
                      ValueCase{"OneTooLong", std::string(512, 'k'), ""},
                      ValueCase{"FarTooLong", std::string(5000, 'k'), ""}),
    [](const ::testing::TestParamInfo<ValueCase>& i) { return std::string(i.param.name); });

struct RawCase {
    const char* name;
    std::string bytes;  // stored as they are, without an added terminator
    std::string read;
};

void PrintTo(const RawCase& c, std::ostream* os) {
    *os << c.name;
}

class RegistryRawValues : public RegistryTest, public ::testing::WithParamInterface<RawCase> {};

TEST_P(RegistryRawValues, ValuesWithoutTerminatorAreTerminatedOrRejected) {
    const RawCase& c = GetParam();
    ASSERT_TRUE(plat::RegWriteRawForTest(kUser, kKey, "ApiKey", c.bytes.data(), c.bytes.size()));
    EXPECT_EQ(RegReadString(kUser, kKey, "ApiKey"), c.read);
}

INSTANTIATE_TEST_SUITE_P(
    Raw, RegistryRawValues,
    ::testing::Values(
        // 512 characters would be one more than the limit: rejected, never cut.
        RawCase{"FullBufferUnterminated", std::string(512, 'r'), ""},
        RawCase{"ShortUnterminated", std::string(10, 's'), std::string(10, 's')},
        RawCase{"FullBufferTerminated", std::string(511, 't') + std::string(1, '\0'), std::string(511, 't')}),
    [](const ::testing::TestParamInfo<RawCase>& i) { return std::string(i.param.name); });

// A sub-key path of the given length below the test root, in parts of at
// most 100 characters.
std::string KeyOfLength(size_t length) {
    std::string key = kTestRoot;
    while (key.size() < length) {
        size_t part = std::min<size_t>(100, length - key.size() - 1);
        key += "\\" + std::string(part ? part : 1, static_cast<char>('a' + key.size() % 26));
    }
    key.resize(length);
    if (key.back() == '\\') key.back() = 'z';
    return key;
}

struct KeyCase {
    size_t length;
    bool stored;
};

void PrintTo(const KeyCase& c, std::ostream* os) {
    *os << c.length << " characters";
}

class RegistryKeyPaths : public RegistryTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(RegistryKeyPaths, AWriteReportsSuccessExactlyWhenTheValueReadsBack) {
    const std::string key = KeyOfLength(GetParam().length);
    ASSERT_EQ(key.size(), GetParam().length);
    bool written = RegWriteString(kUser, key.c_str(), "ApiKey", "secret");
    std::string read = RegReadString(kUser, key.c_str(), "ApiKey");
    EXPECT_EQ(written, GetParam().stored);
    EXPECT_EQ(read, written ? "secret" : "");
}

// The narrow registry calls take sub-key paths of up to 260 characters.
INSTANTIATE_TEST_SUITE_P(Lengths, RegistryKeyPaths,
                         ::testing::Values(KeyCase{60, true}, KeyCase{260, true}, KeyCase{261, false},
                                           KeyCase{511, false}, KeyCase{1000, false}));

TEST_F(RegistryTest, MissingKeysAndValuesReadAsEmpty) {
    EXPECT_EQ(RegReadString(kUser, "Software\\LumoraTests\\absent", "ApiKey"), "");
    ASSERT_TRUE(RegWriteString(kUser, kKey, "Other", "x"));
    EXPECT_EQ(RegReadString(kUser, kKey, "ApiKey"), "");
    EXPECT_EQ(RegReadString(kUser, kKey, "Other"), "x");
}

TEST_F(RegistryTest, WriteCreatesTheKeyPathAndKeepsOtherValues) {
    const char* deep = "Software\\LumoraTests\\a\\b\\c";
    EXPECT_EQ(RegReadString(kUser, deep, "ApiKey"), "");
    ASSERT_TRUE(RegWriteString(kUser, deep, "ApiKey", "first"));
    ASSERT_TRUE(RegWriteString(kUser, kKey, "ApiKey", "second"));
    ASSERT_TRUE(RegWriteString(kUser, deep, "Extra", "third"));
    ASSERT_TRUE(RegWriteString(kUser, deep, "ApiKey", "replaced"));
    EXPECT_EQ(RegReadString(kUser, deep, "ApiKey"), "replaced");
    EXPECT_EQ(RegReadString(kUser, deep, "Extra"), "third");
    EXPECT_EQ(RegReadString(kUser, kKey, "ApiKey"), "second");
}

TEST_F(RegistryTest, NamesIgnoreLetterCase) {
    ASSERT_TRUE(RegWriteString(kUser, kKey, "ApiKey", "abc"));
    EXPECT_EQ(RegReadString(kUser, "SOFTWARE\\lumoratests\\PLUGIN", "APIKEY"), "abc");
    ASSERT_TRUE(RegWriteString(kUser, kKey, "apikey", "def"));
    EXPECT_EQ(RegReadString(kUser, kKey, "ApiKey"), "def");
}

TEST_F(RegistryTest, WithoutValueNameTheKeysDefaultValueIsSet) {
    ASSERT_TRUE(RegWriteString(kUser, kKey, nullptr, "default text"));
    EXPECT_EQ(RegReadString(kUser, kKey, nullptr), "default text");
    EXPECT_EQ(RegReadString(kUser, kKey, "ApiKey"), "");
}

}  // namespace
