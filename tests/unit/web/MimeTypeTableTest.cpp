// The content-type table and the names a download's path value gives.
#include <gtest/gtest.h>

#include <set>

#include "web/MimeTypeTable.h"

namespace corvel {
namespace {

TEST(MimeTypeTable, Holds187SortedDistinctLowerCaseKeysAnd123Types) {
    MimeTypeTable table;
    ASSERT_EQ(table.size(), 187u);
    std::set<std::string_view> types;
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (i > 0) {
            EXPECT_LT(table.extensionAt(i - 1), table.extensionAt(i)) << i;
        }
        for (char c : table.extensionAt(i)) EXPECT_FALSE(c >= 'A' && c <= 'Z');
        EXPECT_EQ(table.lookup(table.extensionAt(i)), table.contentTypeAt(i));
        types.insert(table.contentTypeAt(i));
    }
    EXPECT_EQ(types.size(), 123u);
}

TEST(MimeTypeTable, LooksUpExactly) {
    MimeTypeTable table;
    EXPECT_EQ(table.lookup("jpg"), "image/jpeg");
    EXPECT_EQ(table.lookup("gz"), "application/x-gzip");
    EXPECT_EQ(table.lookup("tgz"), "application/x-compressed");
    EXPECT_EQ(table.lookup("323"), "text/h323");
    EXPECT_EQ(table.lookup("xof"), "x-world/x-vrml");
    EXPECT_EQ(table.lookup("z"), "application/x-compress");
    EXPECT_EQ(table.lookup("svg"), "image/svg+xml");
    EXPECT_FALSE(table.lookup("JPG"));
    EXPECT_FALSE(table.lookup(""));
    EXPECT_FALSE(table.lookup("jp"));
    EXPECT_EQ(table.contentTypeFor("files/readme"), "application/*");
}

TEST(MimeTypeTable, DerivesTypeAndNameFromLoweredPath) {
    MimeTypeTable table;
    struct Case {
        const char* lowered;
        const char* extension;
        const char* type;
    } cases[] = {
        {"photo.jpg", "jpg", "image/jpeg"},
        {"backup.tar.gz", "gz", "application/x-gzip"},
        {"backup.tgz", "tgz", "application/x-compressed"},
        {"readme", "", "application/*"},
        {"notes.", "", "application/*"},
        {"old.files/readme", "files/readme", "application/*"},
        {"docs/readme.txt", "txt", "text/plain"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fileExtensionOf(c.lowered), c.extension) << c.lowered;
        EXPECT_EQ(table.contentTypeFor(fileExtensionOf(c.lowered)), c.type) << c.lowered;
    }
}

TEST(DownloadNameOf, TakesTheLastComponentOrAnUnknownName) {
    EXPECT_EQ(downloadNameOf("docs/readme.txt", 0), "readme.txt");
    EXPECT_EQ(downloadNameOf("readme.txt", 0), "readme.txt");
    EXPECT_EQ(downloadNameOf("docs/", 0), "");
    EXPECT_EQ(downloadNameOf("a\\b.txt", 0), "a\\b.txt");
    EXPECT_EQ(downloadNameOf("", 0x5F5E0FFF), "UNKNOWN-5F5E0FFF");
    EXPECT_EQ(downloadNameOf("", 0x1A), "UNKNOWN-0000001A");
    EXPECT_EQ(downloadNameOf("").substr(0, 8), "UNKNOWN-");
    EXPECT_EQ(downloadNameOf("").size(), 16u);
}

}  // namespace
}  // namespace corvel
