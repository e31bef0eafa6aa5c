// ListEntry records: sizes, dates and month names, with fixed times.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "files/ListEntry.h"
#include "support/UtcZone.h"

namespace corvel {
namespace {


TEST(ListEntry, DateShowsMonthPaddedDayAndTwoDigitTime) {
    EXPECT_EQ(formatListDate(LocalTimeParts{2024, 3, 7, 9, 5, 0}), "Mar  7 09:05");
    EXPECT_EQ(formatListDate(LocalTimeParts{1999, 12, 31, 23, 59, 59}), "Dec 31 23:59");
}

TEST(ListEntry, MonthAbbreviationsRunJanToDec) {
    const char* expected[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int month = 1; month <= 12; ++month) EXPECT_STREQ(monthAbbreviation(month), expected[month - 1]);
    EXPECT_STREQ(monthAbbreviation(0), "");
    EXPECT_STREQ(monthAbbreviation(13), "");
}

TEST(ListEntry, SizeIsRightAlignedInTwelveCharacters) {
    EXPECT_EQ(formatListSize(0), "           0");
    EXPECT_EQ(formatListSize(1234), "        1234");
    EXPECT_EQ(formatListSize(5000000000LL), "  5000000000");
    EXPECT_EQ(formatListSize(1234567890123LL), "1234567890123");  // wider numbers in full
}

TEST(ListEntry, MakeConvertsTheTimeToLocalTimeWithoutAYear) {
    testing::UtcZone utc;
    // 2023-11-14 22:13:20 UTC.
    ListEntry file = ListEntry::make(ListEntryType::File, 42, 1700000000, "notes.txt");
    EXPECT_EQ(file.type, "-");
    EXPECT_FALSE(file.isDirectory());
    EXPECT_EQ(file.size, "          42");
    EXPECT_EQ(file.date, "Nov 14 22:13");
    EXPECT_EQ(file.name, "notes.txt");
    // 1999-01-02 03:04:05 UTC: another year, same form.
    EXPECT_EQ(ListEntry::make(ListEntryType::Directory, 0, 915246245, "old").date, "Jan  2 03:04");
}

TEST(ListEntry, LsDatesShowTheYearOutsideTheLastSixMonths) {
    const std::time_t now = 1709210096, halfYear = 31556952 / 2;  // as ls counts six months
    EXPECT_TRUE(isRecentListTime(now, now));
    EXPECT_TRUE(isRecentListTime(now - halfYear + 1, now));
    EXPECT_FALSE(isRecentListTime(now - halfYear, now));
    EXPECT_FALSE(isRecentListTime(now + 1, now));  // the future shows its year too
    testing::UtcZone utc;
    EXPECT_EQ(formatListDateAsLs(now - 60, now), "Feb 29 12:33");
    EXPECT_EQ(formatListDateAsLs(915246245, now), "Jan  2  1999");
    EXPECT_EQ(ListEntry::make(ListEntryType::File, 1, 915246245, "old").date, "Jan  2 03:04");  // its own form stays
}

}  // namespace
}  // namespace corvel
