// The LIST line format built from listing records.
#include <gtest/gtest.h>

#include <vector>

#include "ftp/ListLine.h"
#include "support/UtcZone.h"

namespace corvel {
namespace {

TEST(ListLine, FileLineHasTheUnixLikeLayout) {
    ListEntry entry{"-", formatListSize(1234), "Mar  7 09:05", "notes.txt"};
    EXPECT_EQ(formatListLine(entry, "alice"),
              "-rw-------   1 alice     alice         1234 Mar  7 09:05 notes.txt\r\n");
}

TEST(ListLine, DirectoryLineBeginsWithD) {
    testing::UtcZone utc;
    ListEntry entry = ListEntry::make(ListEntryType::Directory, 0, 1700000000, "pub");
    EXPECT_TRUE(entry.isDirectory());
    EXPECT_EQ(formatListLine(entry, "anonymous"),
              "drw-------   1 anonymous     anonymous            0 Nov 14 22:13 pub\r\n");
}

TEST(ListLine, ListingConcatenatesTheLinesInOrder) {
    std::vector<ListEntry> listing{{"d", formatListSize(0), "Jan  1 00:00", "."},
                                   {"-", formatListSize(7), "Feb 10 12:30", "a b.txt"}};
    EXPECT_EQ(formatListing(listing, "u"),
              "drw-------   1 u     u            0 Jan  1 00:00 .\r\n"
              "-rw-------   1 u     u            7 Feb 10 12:30 a b.txt\r\n");
    EXPECT_EQ(formatListing({}, "u"), "");
}

}  // namespace
}  // namespace corvel
