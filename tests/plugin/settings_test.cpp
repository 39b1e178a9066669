// The ten-word setting record of each reader and writer, word by word, and
// how a text answer of the host is taken over.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>

#include "plugin/app.h"
#include "support/test_host.h"
#include "common/settings_store.h"

namespace {

class SettingsTest : public ::testing::Test {
  protected:
    void TearDown() override { RemoveFakeHost(); }
};

// What one word of the record must hold.
struct Word {
    enum Kind { kZero, kNumber, kText, kEmptyBuffer } kind;
    long long number;
    const char* text;
};
const Word Z = {Word::kZero, 0, nullptr};
Word N(long long v) {
    return {Word::kNumber, v, nullptr};
}
Word T(const char* s) {
    return {Word::kText, 0, s};
}
const Word B = {Word::kEmptyBuffer, 0, nullptr};

struct RecordCase {
    const char* name;
    std::function<void()> call;
    uint32_t code;
    Word words[10];
};

void PrintTo(const RecordCase& c, std::ostream* os) {
    *os << c.name;
}

const RecordCase kRecordCases[] = {
    {"WriteInt",
     [] { WriteIntSetting("LumoraPlugIn", "MaxLocal", -42); },
     PHC_WRITESETTING,
     {T("LumoraPlugIn"), T("MaxLocal"), N(1), Z, N(-42), Z, Z, Z, Z, Z}},
    {"WriteString",
     [] { WriteStringSetting("LumoraPlugIn", "ImgFolder", "C:\\Pics"); },
     PHC_WRITESETTING,
     {T("LumoraPlugIn"), T("ImgFolder"), N(0), Z, T("C:\\Pics"), Z, Z, Z, Z, Z}},
    {"ReadInt",
     [] { ReadIntSetting("LumoraPlugIn", "MaxLocal", 100); },
     PHC_READSETTING,
     {T("LumoraPlugIn"), T("MaxLocal"), N(1), Z, Z, Z, N(100), Z, Z, Z}},
    {"ReadString",
     [] { ReadStringSetting("LumoraPlugIn", "Feed0_Purity", "100"); },
     PHC_READSETTING,
     {T("LumoraPlugIn"), T("Feed0_Purity"), N(0), Z, B, Z, T("100"), Z, N(1023), Z}},
};

class SettingRecords : public SettingsTest, public ::testing::WithParamInterface<RecordCase> {};

TEST_P(SettingRecords, EachWordHoldsWhatTheHostExpects) {
    const RecordCase& c = GetParam();
    FakeHost& host = InstallFakeHost();
    c.call();
    const auto& calls = c.code == PHC_READSETTING ? host.reads : host.writes;
    ASSERT_EQ(host.reads.size() + host.writes.size(), 1u);
    ASSERT_EQ(calls.size(), 1u);
    const FakeHost::SettingCall& call = calls[0];
    EXPECT_EQ(call.second, 0);
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE("word " + std::to_string(i));
        HostWord w = call.rec.w[i];
        const Word& e = c.words[i];
        switch (e.kind) {
            case Word::kZero:
                EXPECT_EQ(w, 0);
                break;
            case Word::kNumber:
                EXPECT_EQ(static_cast<long long>(w), e.number);
                break;
            case Word::kText:
                ASSERT_NE(w, 0);
                EXPECT_STREQ(reinterpret_cast<const char*>(w), e.text);
                break;
            case Word::kEmptyBuffer:
                ASSERT_NE(w, 0);
                EXPECT_TRUE(call.bufferClean) << "first and last byte of the 1024-byte buffer must be 0";
                break;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Calls, SettingRecords, ::testing::ValuesIn(kRecordCases),
                         [](const ::testing::TestParamInfo<RecordCase>& i) {
                             return std::string(i.param.name);
                         });

TEST_F(SettingsTest, IntegersComeBackWithTheirSign) {
    FakeHost& host = InstallFakeHost();
    for (int v : {0, -1, 65537, INT_MAX, INT_MIN}) {
        SCOPED_TRACE(v);
        WriteIntSetting("S", "K", v);
        EXPECT_EQ(ReadIntSetting("S", "K", 12345), v);
    }
    EXPECT_EQ(ReadIntSetting("S", "Missing", -7), -7);
    EXPECT_EQ(host.reads.size(), 6u);
}

struct TextCase {
    const char* name;
    FakeHost::Answer answer;
    bool stored;
    std::string value;     // stored value (when stored)
    std::string expected;  // what the reader returns
};

void PrintTo(const TextCase& c, std::ostream* os) {
    *os << c.name;
}

class TextAnswers : public SettingsTest, public ::testing::WithParamInterface<TextCase> {};

TEST_P(TextAnswers, TheReaderReturnsItsOwnCopy) {
    const TextCase& c = GetParam();
    FakeHost& host = InstallFakeHost();
    host.answer = c.answer;
    if (c.stored) host.Set("LumoraPlugIn", "Feed0_Query", c.value);
    std::string got = ReadStringSetting("LumoraPlugIn", "Feed0_Query", "dflt");
    // The host may reuse or free its own text once the call is over.
    host.ownText.assign(host.ownText.size(), '#');
    host.ownText = "gone";
    EXPECT_EQ(got, c.expected);
}

const std::string k1023(1023, 'q');
const std::string k3000(3000, 'w');

INSTANTIATE_TEST_SUITE_P(
    Hosts, TextAnswers,
    ::testing::Values(TextCase{"FillsBuffer", FakeHost::kFill, true, "cats", "cats"},
                      TextCase{"FillsWithDefault", FakeHost::kFill, false, "", "dflt"},
                      TextCase{"FillsToCapacity", FakeHost::kFill, true, k1023, k1023},
                      TextCase{"PointsAtOwnText", FakeHost::kPointOwn, true, "dogs", "dogs"},
                      TextCase{"PointsAtDefault", FakeHost::kPointOwn, false, "", "dflt"},
                      TextCase{"PointsAtLongText", FakeHost::kPointOwn, true, k3000, k3000},
                      TextCase{"PointsNowhere", FakeHost::kNullPointer, true, "x", ""},
                      TextCase{"OverfillsBuffer", FakeHost::kOverfill, true, "x", std::string(1023, 'x')}),
    [](const ::testing::TestParamInfo<TextCase>& i) { return std::string(i.param.name); });

TEST_F(SettingsTest, WithoutCallbackReadersGiveDefaultsAndWritersDoNothing) {
    FakeHost& host = InstallFakeHost();
    RemoveFakeHost();
    EXPECT_EQ(ReadIntSetting("LumoraPlugIn", "MaxLocal", 100), 100);
    EXPECT_EQ(ReadStringSetting("LumoraPlugIn", "Feed0_Purity", "100"), "100");
    EXPECT_EQ(ReadStringSetting("LumoraPlugIn", "Feed0_Query", nullptr), "");
    WriteIntSetting("LumoraPlugIn", "MaxLocal", 5);
    WriteStringSetting("LumoraPlugIn", "ImgFolder", "x");
    EXPECT_TRUE(host.reads.empty());
    EXPECT_TRUE(host.writes.empty());
}

}  // namespace
