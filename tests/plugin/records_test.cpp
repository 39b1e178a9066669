// Records and their copy rules: a feed assignment keeps the target's pool and
// MaxPhotos, array copies keep pools by index, and indexes are checked.
#include <gtest/gtest.h>

#include <string>

#include "common/records.h"
#include "engine/file_list.h"

namespace {

CLumoraItem Item(const std::string& id) {
    CLumoraItem it;
    it.Id = id;
    it.Name = id + ".jpg";
    it.Url = "https://img.example/" + id + ".jpg";
    return it;
}

void FillPool(CLumoraFeed& f, const std::string& tag, int n) {
    f.Items.RemoveAll();
    for (int i = 0; i < n; ++i) f.Items.Add(Item(tag + "-" + std::to_string(i)));
}

TEST(Records, DefaultsAreAnEnabledSearchForAllWallpapers) {
    CLumoraFeed f;
    EXPECT_EQ(f.Type, 0);
    EXPECT_EQ(f.Flg, 1);
    EXPECT_TRUE(f.IsEnabled());
    EXPECT_EQ(f.MaxPhotos, 500);
    EXPECT_EQ(f.Categories, "111");
    EXPECT_EQ(f.Purity, "100");
    EXPECT_EQ(f.Sorting, 0);
    EXPECT_EQ(f.TopRange, 3);
    for (const std::string* s :
         {&f.Query, &f.Atleast, &f.Ratios, &f.Username, &f.CollId, &f.CollName, &f.Seed})
        EXPECT_TRUE(s->empty());
    EXPECT_EQ(f.Page, 0);
    EXPECT_EQ(f.LastPage, 0);
    EXPECT_EQ(f.Retries, 0);
    EXPECT_EQ(f.Items.GetSize(), 0);

    EXPECT_EQ(CFileData().FeedIndex, -1);
    EXPECT_EQ(CLumoraCollection().Count, 0);
}

TEST(Records, FeedAssignmentCopiesSettingsAndPagingButKeepsPoolAndMaxPhotos) {
    CLumoraFeed src;
    src.Type = 1;
    src.Flg = 0x10000;
    src.Query = "q";
    src.Categories = "010";
    src.Purity = "011";
    src.Sorting = 5;
    src.TopRange = 6;
    src.Atleast = "1920x1080";
    src.Ratios = "16x9";
    src.Username = "alice";
    src.CollId = "42";
    src.CollName = "Best";
    src.Seed = "AbC123";
    src.Page = 7;
    src.LastPage = 40;
    src.Retries = 2;
    src.MaxPhotos = 9;  // never copied, whatever the source holds
    FillPool(src, "src", 20);

    CLumoraFeed dst;
    FillPool(dst, "dst", 3);
    dst = src;

    EXPECT_EQ(dst.Type, 1);
    EXPECT_EQ(dst.Flg, 0x10000);
    EXPECT_EQ(dst.Query, "q");
    EXPECT_EQ(dst.Categories, "010");
    EXPECT_EQ(dst.Purity, "011");
    EXPECT_EQ(dst.Sorting, 5);
    EXPECT_EQ(dst.TopRange, 6);
    EXPECT_EQ(dst.Atleast, "1920x1080");
    EXPECT_EQ(dst.Ratios, "16x9");
    EXPECT_EQ(dst.Username, "alice");
    EXPECT_EQ(dst.CollId, "42");
    EXPECT_EQ(dst.CollName, "Best");
    EXPECT_EQ(dst.Seed, "AbC123");
    EXPECT_EQ(dst.Page, 7);
    EXPECT_EQ(dst.LastPage, 40);
    EXPECT_EQ(dst.Retries, 2);
    EXPECT_EQ(dst.MaxPhotos, 500);
    ASSERT_EQ(dst.Items.GetSize(), 3);
    EXPECT_EQ(dst.Items[0].Id, "dst-0");
    EXPECT_EQ(dst.Items[2].Id, "dst-2");

    // Texts are owned: changing the source afterwards leaves the copy alone.
    src.Query[0] = 'Z';
    EXPECT_EQ(dst.Query, "q");
}

struct ArrayCopyCase {
    int from, to;
};

void PrintTo(const ArrayCopyCase& c, std::ostream* os) {
    *os << c.from << " onto " << c.to;
}

class FeedArrayCopy : public ::testing::TestWithParam<ArrayCopyCase> {};

TEST_P(FeedArrayCopy, KeepsPoolsAtIndexesThatExistedAndStartsOthersEmpty) {
    const ArrayCopyCase c = GetParam();
    CFeedArray src, dst;
    for (int i = 0; i < c.from; ++i) {
        CLumoraFeed f;
        f.Query = "new" + std::to_string(i);
        f.Page = 100 + i;
        FillPool(f, "src" + std::to_string(i), 4);
        src.Add(f);
    }
    for (int i = 0; i < c.to; ++i) {
        CLumoraFeed f;
        f.Query = "old" + std::to_string(i);
        FillPool(f, "dst" + std::to_string(i), i + 1);
        dst.Add(f);
    }

    dst.Copy(src);

    ASSERT_EQ(dst.GetSize(), c.from);
    for (int i = 0; i < c.from; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(dst[i].Query, "new" + std::to_string(i));
        EXPECT_EQ(dst[i].Page, 100 + i);
        if (i < c.to) {
            ASSERT_EQ(dst[i].Items.GetSize(), i + 1);
            EXPECT_EQ(dst[i].Items[0].Id, "dst" + std::to_string(i) + "-0");
        } else {
            EXPECT_EQ(dst[i].Items.GetSize(), 0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, FeedArrayCopy,
                         ::testing::Values(ArrayCopyCase{3, 5}, ArrayCopyCase{5, 3}, ArrayCopyCase{0, 2},
                                           ArrayCopyCase{2, 0}, ArrayCopyCase{4, 4}));

TEST(Records, IndexOutsideTheArrayRaisesInvalidArgument) {
    CFeedArray feeds;
    feeds.SetSize(5);
    const CFeedArray& cfeeds = feeds;
    for (int bad : {5, 6, -1, 1000}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(feeds[bad], CInvalidArgException);
        EXPECT_THROW(cfeeds[bad], CInvalidArgException);
        EXPECT_THROW(feeds.RemoveAt(bad), CInvalidArgException);
    }
    EXPECT_NO_THROW(feeds[4]);
    EXPECT_EQ(feeds.GetSize(), 5);

    // The worker loop logs the exception's text.
    try {
        feeds[5];
        FAIL() << "no exception";
    } catch (const CInvalidArgException& e) {
        char buf[256];
        ASSERT_TRUE(e.GetErrorMessage(buf, sizeof buf));
        EXPECT_NE(std::string(buf).find('5'), std::string::npos) << buf;
    }
}

}  // namespace
