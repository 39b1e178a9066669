// Parsing of search and collection pages. No network: the answers are
// written here in the service's own dialect ("\/" for "/", \uXXXX for
// anything outside ASCII).
#include <gtest/gtest.h>
#include <json/json.h>

#include <string>
#include <vector>

#include "support/log_capture.h"
#include "platform/fs.h"
#include "service/api.h"

namespace {

struct El {
    std::string id, path, fileType, purity, uploader;
};

// The service writes every "/" as "\/".
std::string Escaped(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '/')
            out += "\\/";
        else
            out += c;
    }
    return out;
}

std::string Element(const El& e) {
    std::string j = "{\"id\":\"" + e.id + "\",\"url\":\"https:\\/\\/x.example\\/w\\/" + e.id +
                    "\",\"views\":12,\"favorites\":1,\"category\":\"general\",\"dimension_x\":1920,"
                    "\"dimension_y\":1080,\"resolution\":\"1920x1080\",\"ratio\":\"1.78\",\"file_size\":2048,"
                    "\"colors\":[\"#000000\"],\"thumbs\":{\"small\":\"https:\\/\\/x.example\\/t.jpg\"}";
    if (!e.path.empty()) j += ",\"path\":\"" + Escaped(e.path) + "\"";
    if (!e.fileType.empty()) j += ",\"file_type\":\"" + Escaped(e.fileType) + "\"";
    if (!e.purity.empty()) j += ",\"purity\":\"" + e.purity + "\"";
    if (!e.uploader.empty()) j += ",\"uploader\":{\"username\":\"" + e.uploader + "\",\"group\":\"User\"}";
    return j + "}";
}

std::string Page(const std::vector<El>& els, const std::string& meta) {
    std::string j = "{\"data\":[";
    for (size_t i = 0; i < els.size(); ++i) j += (i ? "," : "") + Element(els[i]);
    j += "]";
    if (!meta.empty()) j += ",\"meta\":" + meta;
    return j + "}";
}

El Full(int i) {
    char id[8];
    std::snprintf(id, sizeof id, "%02dab%02d", i, i);
    bool png = i % 3 == 0;
    return {id,
            std::string("https://w.example/full/") + std::string(id, 2) + "/lumora-" + id +
                (png ? ".png" : ".jpg"),
            png ? "image/png" : "image/jpeg", i % 2 ? "sketchy" : "sfw", ""};
}

class ParseTest : public ::testing::Test {
  protected:
    LogCapture log;
    CLumoraApi api;
    CItemArray items;
    std::string seed = "before";
    int lastPage = -7, total = -9;
    int Parse(const std::string& body) { return api.ParseWallpaperArray(body, items, seed, lastPage, total); }
};

TEST_F(ParseTest, FullPageOf24) {
    std::vector<El> els;
    for (int i = 0; i < 24; ++i) els.push_back(Full(i));
    ASSERT_EQ(Parse(Page(els,
                         "{\"current_page\":1,\"last_page\":12,\"per_page\":\"24\",\"total\":287,"
                         "\"query\":null,\"seed\":\"abc123\"}")),
              1);
    ASSERT_EQ(items.GetSize(), 24);
    for (int i = 0; i < 24; ++i) {
        const CLumoraItem& it = items[i];
        EXPECT_EQ(it.Id, els[i].id);
        EXPECT_EQ(it.Url, els[i].path);
        EXPECT_EQ(it.Name, els[i].path.substr(els[i].path.rfind('/') + 1));
        EXPECT_EQ(it.FileType, els[i].fileType);
        EXPECT_EQ(it.Purity, els[i].purity);
        EXPECT_EQ(it.Uploader, "");
    }
    EXPECT_EQ(lastPage, 12);
    EXPECT_EQ(total, 287);
    EXPECT_EQ(seed, "abc123");
    EXPECT_TRUE(LogCapture::Has("ParseWallpaperArray: parsed 24 wallpapers, total=287, lastPage=12"));
    EXPECT_EQ(api.m_errtext, "");
}

TEST_F(ParseTest, ElementFieldsNamesAndDefaults) {
    struct Case {
        std::string element;  // JSON of one element
        std::string id, name, url, fileType, purity, uploader;
    } cases[] = {
        {Element({"aa11bb", "https://w.example/full/ab/some-name.jpg", "image/jpeg", "sfw", ""}), "aa11bb",
         "some-name.jpg", "https://w.example/full/ab/some-name.jpg", "image/jpeg", "sfw", ""},
        {Element({"cc22dd", "noslash.png", "image/png", "nsfw", "alice"}), "cc22dd", "cc22dd", "noslash.png",
         "image/png", "nsfw", "alice"},
        {Element({"ee33ff", "https://w.example/dir/", "image/png", "sketchy", ""}), "ee33ff", "",
         "https://w.example/dir/", "image/png", "sketchy", ""},
        // No path, file type, purity or uploader: the defaults.
        {"{\"id\":\"gg44hh\"}", "gg44hh", "gg44hh", "", "image/jpeg", "sfw", ""},
        // Nulls read as empty texts; an uploader without a name leaves it empty.
        {"{\"id\":\"ii55jj\",\"path\":null,\"purity\":null,\"uploader\":{\"group\":\"User\"}}", "ii55jj",
         "ii55jj", "", "image/jpeg", "", ""},
        {"{\"id\":\"kk66ll\",\"uploader\":null}", "kk66ll", "kk66ll", "", "image/jpeg", "sfw", ""},
        // A number where text is expected gives its decimal form.
        {"{\"id\":123456,\"path\":\"https:\\/\\/w.example\\/a\\/b.jpg\"}", "123456", "b.jpg",
         "https://w.example/a/b.jpg", "image/jpeg", "sfw", ""},
    };
    for (const Case& c : cases) {
        items.RemoveAll();
        ASSERT_EQ(Parse("{\"data\":[" + c.element + "]}"), 1) << c.element;
        ASSERT_EQ(items.GetSize(), 1) << c.element;
        const CLumoraItem& it = items[0];
        EXPECT_EQ(it.Id, c.id) << c.element;
        EXPECT_EQ(it.Name, c.name) << c.element;
        EXPECT_EQ(it.Url, c.url) << c.element;
        EXPECT_EQ(it.FileType, c.fileType) << c.element;
        EXPECT_EQ(it.Purity, c.purity) << c.element;
        EXPECT_EQ(it.Uploader, c.uploader) << c.element;
    }
}

TEST_F(ParseTest, PagingBlockAndDataShapes) {
    struct Case {
        const char* body;
        int result;
        std::vector<std::string> ids;
        const char* seed;
        int lastPage, total;
        const char* logLine;
    } cases[] = {
        // Elements without an id are skipped and not counted; items that were
        // in the array before count in the log line.
        {"{\"data\":[{\"id\":\"a1\"},{\"id\":\"\"},{\"path\":\"x\\/y.jpg\"},{\"id\":\"b2\"}],"
         "\"meta\":{\"last_page\":3,\"total\":50,\"seed\":\"zz9\"}}",
         1,
         {"prev", "a1", "b2"},
         "zz9",
         3,
         50,
         "ParseWallpaperArray: parsed 3 wallpapers, total=50, lastPage=3"},
        // A null seed empties the seed; a meta without seed leaves it.
        {"{\"data\":[],\"meta\":{\"last_page\":1,\"total\":0,\"seed\":null}}",
         1,
         {"prev"},
         "",
         1,
         0,
         "ParseWallpaperArray: parsed 1 wallpapers, total=0, lastPage=1"},
        {"{\"data\":[],\"meta\":{\"last_page\":4,\"total\":90}}",
         1,
         {"prev"},
         "before",
         4,
         90,
         "ParseWallpaperArray: parsed 1 wallpapers, total=90, lastPage=4"},
        // A numeric seed is taken as text; missing paging values are 0.
        {"{\"data\":[],\"meta\":{\"seed\":4711}}",
         1,
         {"prev"},
         "4711",
         0,
         0,
         "ParseWallpaperArray: parsed 1 wallpapers, total=0, lastPage=0"},
        // No meta: paging values stay as the caller set them.
        {"{\"data\":[{\"id\":\"c3\"}]}",
         1,
         {"prev", "c3"},
         "before",
         -7,
         -9,
         "ParseWallpaperArray: parsed 2 wallpapers, total=-9, lastPage=-7"},
        // No or non-array data: success without items, meta still applied.
        {"{\"meta\":{\"last_page\":2,\"total\":30}}",
         1,
         {"prev"},
         "before",
         2,
         30,
         "ParseWallpaperArray: missing data array"},
        {"{\"data\":\"none\"}", 1, {"prev"}, "before", -7, -9, "ParseWallpaperArray: missing data array"},
        // A null meta is still a member: its values read as their defaults.
        {"{\"data\":null,\"meta\":null}",
         1,
         {"prev"},
         "before",
         0,
         0,
         "ParseWallpaperArray: missing data array"},
        // Comments are allowed.
        {"/* page */ {\"data\":[{\"id\":\"d4\"} // one\n]}",
         1,
         {"prev", "d4"},
         "before",
         -7,
         -9,
         "ParseWallpaperArray: parsed 2 wallpapers, total=-9, lastPage=-7"},
        // Not JSON: nothing touched.
        {"<html><body>Bad gateway</body></html>",
         0,
         {"prev"},
         "before",
         -7,
         -9,
         "ParseWallpaperArray: JSON parse error"},
        {"{\"data\":[{\"id\":\"e5\"}",
         0,
         {"prev"},
         "before",
         -7,
         -9,
         "ParseWallpaperArray: JSON parse error"},
    };
    for (const Case& c : cases) {
        items.RemoveAll();
        CLumoraItem prev;
        prev.Id = "prev";
        items.Add(prev);
        seed = "before";
        lastPage = -7;
        total = -9;
        api.m_errtext = "";
        LogCapture::Clear();
        ASSERT_EQ(Parse(c.body), c.result) << c.body;
        std::vector<std::string> ids;
        for (const CLumoraItem& it : items) ids.push_back(it.Id);
        EXPECT_EQ(ids, c.ids) << c.body;
        EXPECT_EQ(seed, c.seed) << c.body;
        EXPECT_EQ(lastPage, c.lastPage) << c.body;
        EXPECT_EQ(total, c.total) << c.body;
        EXPECT_TRUE(LogCapture::Has(c.logLine)) << c.body;
        EXPECT_EQ(api.m_errtext, c.result ? "" : "JSON parse error") << c.body;
    }
}

TEST_F(ParseTest, WrongTypesRaiseTheLibrarysError) {
    const char* bodies[] = {
        "{\"meta\":{\"last_page\":\"3\",\"total\":10}}",
        "{\"meta\":{\"last_page\":3,\"total\":\"many\"}}",
        "{\"meta\":[1,2]}",
        "{\"data\":[{\"id\":\"a1\"},5]}",
        "{\"data\":[{\"id\":{\"x\":1}}]}",
        "{\"data\":[{\"id\":\"a1\",\"path\":[\"x\"]}]}",
        "{\"data\":[{\"id\":\"a1\",\"uploader\":\"bob\"}]}",
        "{\"data\":[{\"id\":\"a1\",\"uploader\":{\"username\":{}}}]}",
        "[1,2,3]",
    };
    for (const char* body : bodies) EXPECT_THROW(Parse(body), Json::Exception) << body;
}

TEST_F(ParseTest, NonAsciiTextsAreConvertedToTheNarrowCodePage) {
    // "Дмитрий" and "Zoë" as the service sends them (\u escapes).
    ASSERT_EQ(Parse("{\"data\":[{\"id\":\"a1\",\"uploader\":{\"username\":"
                    "\"\\u0414\\u043c\\u0438\\u0442\\u0440\\u0438"
                    "\\u0439\"}},{\"id\":\"b2\",\"uploader\":{\"username\":\"Zo\\u00eb\"}}]}"),
              1);
    ASSERT_EQ(items.GetSize(), 2);
#ifdef _WIN32
    // Western European code page: no Cyrillic, so the default character.
    EXPECT_EQ(items[0].Uploader, "???????");
    EXPECT_EQ(items[1].Uploader, "Zo\xEB");
#else
    EXPECT_EQ(items[0].Uploader, "\xD0\x94\xD0\xBC\xD0\xB8\xD1\x82\xD1\x80\xD0\xB8\xD0\xB9");
    EXPECT_EQ(items[1].Uploader, "Zo\xC3\xAB");
#endif
}

TEST_F(ParseTest, OverlongTextsAreCutOnACharacterBoundaryAndOverlongAddressesDropped) {
    std::string longAscii(300, 'u');
    std::string mixed = "a";  // then 200 x "é": the 255-byte limit falls inside a character natively
    for (int i = 0; i < 200; ++i) mixed += "\\u00e9";
    std::string okPath = "https://w.example/" + std::string(2046 - 18 - 6, 'p') + "/x.jpg";
    ASSERT_EQ(okPath.size(), 2046u);
    std::string longPath = okPath + "g";
    std::string body =
        "{\"data\":[{\"id\":\"a1\",\"purity\":\"" + longAscii + "\",\"uploader\":{\"username\":\"" + mixed +
        "\"},\"path\":\"" + Escaped(okPath) + "\"},{\"id\":\"b2\",\"path\":\"" + Escaped(longPath) +
        "\"},{\"id\":\"c3\",\"path\":\"https:\\/\\/w.example\\/" + std::string(400, 'n') + "\"}]}";
    ASSERT_EQ(Parse(body), 1);
    ASSERT_EQ(items.GetSize(), 2);  // b2's address does not fit and would fetch another file
    EXPECT_EQ(items[0].Id, "a1");
    EXPECT_EQ(items[0].Purity, std::string(254, 'u'));
    EXPECT_EQ(items[0].Url, okPath);
#ifdef _WIN32
    EXPECT_EQ(items[0].Uploader, "a" + std::string(200, '\xE9'));
#else
    ASSERT_EQ(items[0].Uploader.size(), 253u);  // 1 + 126 two-byte characters
    for (size_t i = 1; i < items[0].Uploader.size(); i += 2)
        EXPECT_EQ(items[0].Uploader.substr(i, 2), "\xC3\xA9");
#endif
    EXPECT_EQ(items[1].Id, "c3");
    EXPECT_EQ(items[1].Name, std::string(254, 'n'));
    EXPECT_TRUE(LogCapture::AnyContains("b2"));
}

TEST_F(ParseTest, NulInsideATextNeverReachesTheEngine) {
    // A "\u0000" would end the text for every C-string API below while the
    // string itself goes on: a name like a<NUL>\..\..\evil.jpg then passes
    // one check and escapes through another. It arrives as "?".
    struct Row {
        const char* field;  // JSON member of the element, written raw
        const char* value;  // as the service writes it
        std::string CLumoraItem::*member;
        const char* expected;
    } rows[] = {
        {"path", "http:\\/\\/h\\/full\\/a\\u0000\\\\..\\\\..\\\\evil.jpg", &CLumoraItem::Name,
         "a?\\..\\..\\evil.jpg"},
        {"path", "http:\\/\\/h\\/full\\/a\\u0000\\\\..\\\\..\\\\evil.jpg", &CLumoraItem::Url,
         "http://h/full/a?\\..\\..\\evil.jpg"},
        {"purity", "sfw\\u0000\\\\..", &CLumoraItem::Purity, "sfw?\\.."},
        {"file_type", "image\\/jpeg\\u0000x", &CLumoraItem::FileType, "image/jpeg?x"},
        {"id", "ab\\u0000cd", &CLumoraItem::Id, "ab?cd"},
    };
    for (const Row& r : rows) {
        items.RemoveAll();
        std::string body = std::string("{\"data\":[{") +
                           (std::string(r.field) == "id" ? "" : "\"id\":\"x1\",") + "\"" + r.field + "\":\"" +
                           r.value + "\"}]}";
        ASSERT_EQ(Parse(body), 1) << body;
        ASSERT_EQ(items.GetSize(), 1) << body;
        const std::string& got = items[0].*(r.member);
        EXPECT_EQ(got, r.expected) << body;
        EXPECT_EQ(got.find('\0'), std::string::npos) << body;
    }
    // The seed and an uploader's name as well.
    items.RemoveAll();
    ASSERT_EQ(Parse("{\"meta\":{\"seed\":\"ab\\u0000c\"},\"data\":[{\"id\":\"u1\",\"uploader\":{\"username\":"
                    "\"\\u0000Zo\"}}]}"),
              1);
    EXPECT_EQ(seed, "ab?c");
    ASSERT_EQ(items.GetSize(), 1);
    EXPECT_EQ(items[0].Uploader, "?Zo");
}

TEST_F(ParseTest, ABrokenByteKeepsTheSeparatorAfterIt) {
    // A stray UTF-8 lead byte before "/" (found by the search-answer fuzz
    // target): the name is the last segment whatever the broken byte becomes.
    ASSERT_EQ(Parse("{\"data\":[{\"id\":\"x1\",\"path\":\"a\xF3/v\"}]}"), 1);
    ASSERT_EQ(items.GetSize(), 1);
    EXPECT_EQ(items[0].Name, "v");
    // The native build keeps the address's bytes and its "/"; wine's converter
    // takes the bytes after a broken lead byte with it.
    if (plat::kPathSep == '/') {
        EXPECT_EQ(items[0].Url, "a\xF3/v");
    }
}

TEST_F(ParseTest, IdsLongerThanTheirBufferAreDroppedNotCut) {
    // Two ids that differ only after byte 254 would both become the same
    // 254-byte id, and the second would be dropped as a duplicate of the
    // first. Neither is an id the engine can keep: both are dropped; an id
    // of exactly 254 bytes is kept whole.
    const std::string common(254, 'k');
    const std::string fits(254, 'f');
    std::string body = "{\"data\":[{\"id\":\"" + common + "A\",\"path\":\"h\\/a.jpg\"},{\"id\":\"" + common +
                       "B\",\"path\":\"h\\/b.jpg\"},{\"id\":\"" + fits + "\",\"path\":\"h\\/c.jpg\"}]}";
    ASSERT_EQ(Parse(body), 1);
    ASSERT_EQ(items.GetSize(), 1);
    EXPECT_EQ(items[0].Id, fits);
    EXPECT_EQ(items[0].Name, "c.jpg");
    EXPECT_EQ(LogCapture::LinesStartingWith("ParseWallpaperArray: id ").size(), 2u) << LogCapture::Dump();
}

TEST(ParseUserCollections, AnswersBecomeRecordsOrAFailureThatAddsNothing) {
    struct Row {
        const char* body;
        int result;
        std::vector<std::pair<std::string, std::string>> records;  // id, label
    } rows[] = {
        {"{\"data\":[{\"id\":15,\"label\":\"Default\",\"count\":10},{\"id\":27,\"label\":\"Nature\"}]}",
         1,
         {{"15", "Default"}, {"27", "Nature"}}},
        {"{\"data\":[{\"label\":\"a\\u0000b\"}]}", 1, {{"0", "a?b"}}},  // a NUL never reaches the dialog
        {"{\"data\":[]}", 1, {}},
        {"{}", 1, {}},
        {"not json", 0, {}},
        {"{\"data\":[{\"id\":1,\"label\":\"x\"},{\"id\":\"abc\"}]}",
         0,
         {}},  // the record before stays out too
        {"{\"data\":[7]}", 0, {}},
    };
    for (const Row& r : rows) {
        CLumoraApi api;
        CCollectionArray list;
        CLumoraCollection before;
        before.Id = "1";
        before.Label = "kept";
        list.Add(before);
        EXPECT_EQ(api.ParseUserCollections(r.body, "user", list), r.result) << r.body;
        ASSERT_EQ(list.GetSize(), 1 + static_cast<int>(r.records.size())) << r.body;
        EXPECT_EQ(list[0].Label, "kept");
        for (size_t i = 0; i < r.records.size(); ++i) {
            EXPECT_EQ(list[static_cast<int>(i) + 1].Id, r.records[i].first) << r.body;
            EXPECT_EQ(list[static_cast<int>(i) + 1].Label, r.records[i].second) << r.body;
        }
        EXPECT_EQ(api.m_errtext.empty(), r.result == 1) << r.body;
    }
}

}  // namespace
