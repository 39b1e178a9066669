// Property side files, compared with golden files that both builds must
// match byte for byte (the system's profile writer on Windows, the direct
// writer natively).
#include <gtest/gtest.h>

#include "engine/vprop.h"
#include "support/file_fixture.h"
#include "platform/codepage.h"

namespace ef {
namespace {

std::string Golden(const std::string& name) {
    std::string bytes = ReadBytes(std::string(EF_GOLDEN_DIR) + "/" + name);
    EXPECT_FALSE(bytes.empty()) << "golden file missing: " << name;
    return bytes;
}

class VpropTest : public EngineFixture {
  protected:
    std::string image;
    void SetUp() override {
        EngineFixture::SetUp();
        std::filesystem::create_directories(std::filesystem::path(In({"sfw"})));
        image = In({"sfw", "abc.jpg"});
    }
    std::string Side() { return In({"sfw", "abc.vprop"}); }
};

TEST_F(VpropTest, MatchesGoldenFiles) {
    struct Row {
        const char* golden;
        int title, descr;
        std::string name, uploader;
    } rows[] = {
        {"title_only.vprop", 1, 0, "lumora-94x38z.jpg", "someone"},
        // Texts are held in the system code page: the test's UTF-8 goes the same way.
        {"uploader_non_ascii.vprop", 0, 1, "abc.jpg", plat::Utf8ToAnsi("Zoë Ångström", 256)},
        {"both_empty_uploader.vprop", 1, 1, "abc.jpg", ""},  // the two characters "\" "n" and nothing after
        {"both.vprop", 1, 1, "abc.jpg", plat::Utf8ToAnsi("Zoë", 256)},
        {"empty_text.vprop", 1, 0, "", "someone"},
        {"uploader_non_ascii.vprop", 1, 1, "", plat::Utf8ToAnsi("Zoë Ångström", 256)},  // no "\n" before it
        // Line breaks and other control characters cannot start keys or sections of their own.
        {"control_chars.vprop", 1, 1, "\r\nText=evil\r\n[Other]\r\nk=v", std::string("x\ty\0z", 5)},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.golden);
        settings.VpropTitle = r.title;
        settings.VpropDescr = r.descr;
        CLumoraItem item;
        item.Id = "94x38z";
        item.Name = r.name;
        item.Uploader = r.uploader;
        WriteVpropFile(image, item, settings.VpropTitle, settings.VpropDescr);
        EXPECT_EQ(Show(ReadBytes(Side())), Show(Golden(r.golden)));
    }
}

TEST_F(VpropTest, ReplacesAnOldSideFile) {
    // A longer file left from an earlier image of the same name, with keys of its own.
    std::u16string old =
        u"\xFEFF[Enable]\r\nDescription=0\r\nExtra=1\r\n[Description]\r\nText=a much longer old text\r\n"
        u"[Other]\r\nKey=Value\r\n";
    std::string bytes;
    for (char16_t c : old) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    WriteBytes(Side(), bytes);
    settings.VpropTitle = 1;
    CLumoraItem item;
    item.Name = "lumora-94x38z.jpg";
    WriteVpropFile(image, item, settings.VpropTitle, settings.VpropDescr);
    EXPECT_EQ(Show(ReadBytes(Side())), Show(Golden("title_only.vprop")));
}

TEST_F(VpropTest, SideFileLiesBesideTheImage) {
    settings.VpropTitle = 1;
    CLumoraItem item;
    item.Name = "lumora-94x38z.jpg";
    std::filesystem::create_directories(std::filesystem::path(In({"x.d"})));
    WriteVpropFile(In({"x.d", "noext"}), item, settings.VpropTitle, settings.VpropDescr);
    EXPECT_EQ(ReadBytes(In({"x.d", "noext.vprop"})), Golden("title_only.vprop"));
    EXPECT_FALSE(FileExists(In({"x.vprop"})));
}

TEST_F(VpropTest, UnwritableFolderIsSilent) {
    settings.VpropTitle = 1;
    CLumoraItem item;
    item.Name = "n.jpg";
    WriteVpropFile(In({"missing", "n.jpg"}), item, settings.VpropTitle, settings.VpropDescr);
    EXPECT_FALSE(FileExists(In({"missing"})));
    EXPECT_TRUE(Log::Lines().empty());
}

}  // namespace
}  // namespace ef
