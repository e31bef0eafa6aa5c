// The pure parts of the <ftpext> commands: RFC 3659 times both ways, the MLSx fact
// lines and their perm letters, LIST's option skipping and the ls-dated lines.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "common/Permissions.h"
#include "ftp/ListArgument.h"
#include "ftp/ListLine.h"
#include "ftp/MachineTime.h"
#include "ftp/MlsxFacts.h"
#include "support/UtcZone.h"

namespace corvel {
namespace {

constexpr std::uint32_t kAll = PERM_CREATE_FILE | PERM_READ_FILE | PERM_WRITE_FILE | PERM_REMOVE_FILE |
                               PERM_CREATE_DIR | PERM_LIST | PERM_REMOVE_DIR;

TEST(MachineTime, FormatsUtcCalendarTimesAcrossTheFourDigitYears) {
    const struct {
        std::int64_t seconds;
        const char* text;
    } cases[] = {
        {0, "19700101000000"},
        {1700000000, "20231114221320"},
        {1709210096, "20240229123456"},  // a leap day
        {951868800, "20000301000000"},   // the day after a 400-year leap day
        {-1, "19691231235959"},          // before 1970 counts back, not towards zero
        {-2203891200, "19000301000000"},
        {-30610224000, "10000101000000"},
        {253402300799, "99991231235959"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(formatMachineTime(c.seconds), std::optional<std::string>(c.text)) << c.seconds;
        EXPECT_EQ(parseMachineTime(c.text), std::optional<std::int64_t>(c.seconds)) << c.text;
    }
    // Five digits of year or three do not fit the form.
    EXPECT_EQ(formatMachineTime(253402300800), std::nullopt);
    EXPECT_EQ(formatMachineTime(-30610224001), std::nullopt);
}

TEST(MachineTime, RoundTripsEveryDayOfFourCenturies) {
    // A step prime to the day length walks through every time of day as well.
    for (std::int64_t t = -2208988800; t < 10413792000; t += 86400 + 3607) {
        const std::optional<std::string> text = formatMachineTime(t);
        ASSERT_TRUE(text) << t;
        ASSERT_EQ(parseMachineTime(*text), std::optional<std::int64_t>(t)) << *text;
    }
}

TEST(MachineTime, ParsingRefusesAnythingButAValidTimeVal) {
    EXPECT_EQ(parseMachineTime("20240101000000.5"), parseMachineTime("20240101000000"));
    EXPECT_EQ(parseMachineTime("20240101000000.123"), std::optional<std::int64_t>(1704067200));
    for (const char* bad : {"", "2024010100000", "202401010000000", "2024-01-01T000", "20230229000000",
                            "20240230000000", "20241301000000", "20240001000000", "20240100000000",
                            "20240101240000", "20240101006000", "20240101000060", "09990101000000",
                            "20240101000000.", "20240101000000.5x", "20240101000000 ", " 20240101000000",
                            "+2024010100000"})
        EXPECT_EQ(parseMachineTime(bad), std::nullopt) << '"' << bad << '"';
}

TEST(MlsxFacts, PermLettersFollowTheAccountsRights) {
    const struct {
        FactType type;
        std::uint32_t privileges;
        const char* letters;
    } cases[] = {
        {FactType::File, kAll, "adfrw"},
        {FactType::File, kDefaultPrivileges, "r"},
        {FactType::File, PERM_WRITE_FILE, "afw"},
        {FactType::File, PERM_REMOVE_FILE | PERM_LIST, "d"},
        {FactType::File, 0, ""},
        {FactType::Dir, kAll, "cdeflmp"},
        {FactType::Cdir, kDefaultPrivileges, "el"},
        {FactType::Dir, 0, "e"},                 // CWD asks for no right
        {FactType::Dir, PERM_CREATE_FILE, "e"},  // a new file is stored only with Write File too
        {FactType::Dir, PERM_CREATE_FILE | PERM_WRITE_FILE, "cef"},
        {FactType::Dir, PERM_REMOVE_FILE, "ep"},
        {FactType::Dir, PERM_REMOVE_DIR | PERM_CREATE_DIR, "demp"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(permFact(c.type, c.privileges), c.letters) << int(c.type) << " " << std::hex << c.privileges;
}

TEST(MlsxFacts, LinesCarryTypeSizeModifyPermAndModeThenTheName) {
    EXPECT_EQ(formatMlsdLine({FactType::File, 1234, 1709210096, 0644}, kDefaultPrivileges, "a b.txt"),
              "type=file;size=1234;modify=20240229123456;perm=r;unix.mode=0644; a b.txt\r\n");
    // Directories tell no size; special bits stay in the mode.
    EXPECT_EQ(formatFacts({FactType::Dir, 4096, 0, 02775}, kAll),
              "type=dir;modify=19700101000000;perm=cdeflmp;unix.mode=2775;");
    EXPECT_EQ(formatFacts({FactType::Cdir, 0, 1700000000, 0700}, kDefaultPrivileges),
              "type=cdir;modify=20231114221320;perm=el;unix.mode=0700;");
    // A time four year digits cannot carry leaves the modify fact out.
    EXPECT_EQ(formatFacts({FactType::File, 0, 253402300800, 0600}, 0), "type=file;size=0;perm=;unix.mode=0600;");
}

TEST(ListArgument, LeadingOptionsAreSkippedAndTheRestIsOnePath) {
    const struct {
        const char* argument;
        const char* path;
    } cases[] = {
        {"", ""},
        {"-la", ""},
        {"-l -a", ""},
        {"-l   -a  sub dir", "sub dir"},
        {"-la sub dir", "sub dir"},
        {"sub dir", "sub dir"},
        {"sub -l", "sub -l"},           // only leading words are options
        {"sub  two  blanks", "sub  two  blanks"},
        {"-\tfile", "file"},
        {"./-name", "./-name"},
        {"/abs/path x", "/abs/path x"},
    };
    for (const auto& c : cases) EXPECT_EQ(skipListOptions(c.argument), c.path) << '"' << c.argument << '"';
}

TEST(ListLine, ExtendedLinesDateAsLsAndNamesStandAlone) {
    testing::UtcZone utc;
    const std::time_t now = 1709210096;  // 2024-02-29 12:34:56 UTC
    const ListEntry recent = ListEntry::make(ListEntryType::File, 7, now - 3600, "a b.txt");
    const ListEntry old = ListEntry::make(ListEntryType::Directory, 0, 1700000000 - 86400 * 120, "old");
    EXPECT_EQ(formatListLine(recent, "u", now), "-rw-------   1 u     u            7 Feb 29 11:34 a b.txt\r\n");
    EXPECT_EQ(formatListLine(old, "u", now), "drw-------   1 u     u            0 Jul 17  2023 old\r\n");
    // The form without the extension is untouched.
    EXPECT_EQ(formatListLine(old, "u"), "drw-------   1 u     u            0 Jul 17 22:13 old\r\n");
    EXPECT_EQ(formatNameLine(recent), "a b.txt\r\n");
}

}  // namespace
}  // namespace corvel
